#include "platform/Notifier.h"

namespace {

// Where no native notification service is wired up yet: tunnels work, nothing is shown.
class UnavailableNotifier : public Notifier {
public:
    void notify(const QString&, const QString&, const QList<NotificationAction>&) override {}
};

} // namespace

std::unique_ptr<Notifier> createPlatformNotifier() {
    return std::make_unique<UnavailableNotifier>();
}
