#pragma once

#include <memory>

// Registers the application to start when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // The registration as it is now on disk or with the system.
    virtual bool isEnabled() const = 0;
    // Returns false when the change could not be made.
    virtual bool setEnabled(bool enabled) = 0;
};

// The implementation for this operating system, for the running executable.
std::unique_ptr<LoginItem> createPlatformLoginItem();
