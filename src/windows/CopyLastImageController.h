#pragma once

#include "platform/desktop/Pasteboard.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Uuid.h"
#include "storage/TransferStorage.h"
#include "windows/CopyLastController.h"

#include <functional>
#include <memory>
#include <optional>

namespace tarpelix {

// Stands behind the status menu's "Copy Last Image": keeps the snapshot of the newest
// transfer whose image can still be read, and copies that image to the general pasteboard as
// PNG. It does no storage work itself: the owner hands it the load and the read. Main thread
// only; the load and the read may answer on any thread.
class CopyLastImageController final
    : public CopyLastController<CopyLastImageController, TransferStorage::LatestImageSnapshot> {
public:
    using ReadCompletion = std::function<void(std::optional<platform::Bytes>)>;
    using Read = std::function<void(const platform::Uuid& id, ReadCompletion)>;
    // Writes PNG bytes to the pasteboard; true on success.
    using Writer = std::function<bool(const platform::Bytes& png)>;

    // The menu's copy: the bytes read pass the Last Paste Status preview's test before they go
    // to the general pasteboard.
    static std::shared_ptr<CopyLastImageController> create(Load load, Read read, Report report, Changed changed);
    // The writer gets the bytes exactly as `read` answers them.
    static std::shared_ptr<CopyLastImageController> create(Load load, Read read, Writer writer, Report report,
                                                           Changed changed);

    CopyLastImageController(Load load, Read read, Writer writer, Report report, Changed changed);

    // Replaces the whole content of the pasteboard with the PNG; false when it is refused.
    static bool writePNG(const platform::Bytes& png, platform::Pasteboard& pasteboard = platform::Pasteboard::general());

    // Loads the snapshot, reads its image and writes it; ignored while a copy runs. Success
    // reports nothing; a failure reports its message. Either way `changed` is called.
    void copy();

private:
    void loadedForCopy(std::optional<TransferStorage::LatestImageSnapshot> snapshot);
    void readForCopy(std::optional<platform::Bytes> png);

    Read read_;
    Writer writer_;
};

} // namespace tarpelix
