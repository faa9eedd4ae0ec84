#include "platform/LoginItem.h"

namespace {

// Where no native login-item service is wired up yet: never registered, and every change
// fails, so the checkbox shows the truth.
class UnavailableLoginItem : public LoginItem {
public:
    bool isEnabled() const override { return false; }
    bool setEnabled(bool enabled) override { return !enabled; }
};

} // namespace

std::unique_ptr<LoginItem> createPlatformLoginItem() {
    return std::make_unique<UnavailableLoginItem>();
}
