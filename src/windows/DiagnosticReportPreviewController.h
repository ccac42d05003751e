#pragma once

#include "platform/appkit/Window.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bytes.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {
class Button;
class Label;
class ScrollView;
class TextView;
} // namespace tarpelix::platform

namespace tarpelix {

// The window that shows a diagnostic report read-only for review and saves it to a text file
// only where the user chooses. While a location is being chosen or the file written, the window
// cannot be closed by any means and its buttons are disabled; a failed write says so and lets
// the user try again, a successful one closes the window. The controller is the window's
// delegate. Main thread only, except the write, which runs on `writer()`.
class DiagnosticReportPreviewController final : public platform::WindowDelegate,
                                                public std::enable_shared_from_this<DiagnosticReportPreviewController> {
public:
    // Receives the chosen file, or none when the user cancelled; may be called on any thread.
    using SaveURLCompletion = std::function<void(std::optional<std::filesystem::path>)>;
    using ChooseSaveURL = std::function<void(platform::Window& window, SaveURLCompletion completion)>;
    // Writes the bytes as the file; throws when it cannot.
    using WriteReport = std::function<void(const platform::Bytes& bytes, const std::filesystem::path& path)>;

    static constexpr double contentWidth = 760;
    static constexpr double contentHeight = 570;
    static constexpr double minimumWidth = 500;
    static constexpr double minimumHeight = 350;
    static constexpr const char* failureMessage = "Couldn\u2019t save the report. Try another location.";

    // Builds the window around `text`, which never changes afterwards. Defaults:
    // `chooseSaveURL` = presentSavePanel; `writeReport` replaces the file atomically.
    static std::shared_ptr<DiagnosticReportPreviewController> create(std::string text, ChooseSaveURL chooseSaveURL = {},
                                                                     WriteReport writeReport = {});

    // A save panel for the report as a sheet on the window; the completion gets the file chosen
    // with OK, and none in every other case.
    static void presentSavePanel(platform::Window& window, SaveURLCompletion completion);
    // The default writer: replaces the file atomically, readable by all (an ordinary document).
    static void writeAtomically(const platform::Bytes& bytes, const std::filesystem::path& path);

    // Shows the window key and in front, with the application activated.
    void showWindow();
    // "Save…": asks where, then writes the shown text there.
    void save();
    // "Cancel": closes the window unless a save is under way.
    void cancel();

    // Called once the window closes; the owner drops the controller there.
    void setDidClose(std::function<void()> didClose) { didClose_ = std::move(didClose); }

    const std::string& text() const { return frozenText_; }
    bool isSaving() const { return saving_; }
    platform::Window& window() const { return *window_; }
    platform::TextView& textView() const { return *textView_; }
    platform::ScrollView& scrollView() const { return *scrollView_; }
    platform::Button& saveButton() const { return *saveButton_; }
    platform::Button& cancelButton() const { return *cancelButton_; }
    platform::Label& statusLabel() const { return *statusLabel_; }
    const platform::DispatchQueue& writer() const { return *writer_; }

    bool windowShouldClose(platform::Window& window) override;
    void windowWillClose(platform::Window& window) override;

private:
    DiagnosticReportPreviewController(std::string text, ChooseSaveURL chooseSaveURL, WriteReport writeReport);
    void build();
    void setControlsEnabled(bool enabled);
    void chose(std::optional<std::filesystem::path> url);
    void finishSave(bool written);

    const std::string frozenText_;
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::TextView> textView_;
    std::shared_ptr<platform::ScrollView> scrollView_;
    std::shared_ptr<platform::Button> saveButton_;
    std::shared_ptr<platform::Button> cancelButton_;
    std::shared_ptr<platform::Label> statusLabel_;
    std::function<void()> didClose_;
    const ChooseSaveURL chooseSaveURL_;
    const WriteReport writeReport_;
    std::shared_ptr<platform::DispatchQueue> writer_;
    bool saving_ = false;
};

} // namespace tarpelix
