#pragma once

#include <functional>

namespace tarpelix {

// The update framework as the update controller drives it.
class UpdateDriving {
public:
    virtual ~UpdateDriving() = default;

    virtual bool automaticallyChecks() const = 0;
    virtual void setAutomaticallyChecks(bool on) = 0;
    virtual bool canCheck() const = 0;
    // Called when either value above changes.
    virtual void setChanged(std::function<void()> changed) = 0;
    // Throws the framework's error (platform::UpdaterError) when it cannot start.
    virtual void start() = 0;
    virtual void check() = 0;
};

} // namespace tarpelix
