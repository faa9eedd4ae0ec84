#include "app/TunnelNotifications.h"

#include "model/AccountOutcome.h"
#include "model/ShareDuration.h"
#include "model/TunnelInstance.h"
#include "model/TunnelStore.h"
#include "platform/Notifier.h"
#include "ui/UrlActions.h"

namespace {

// Marks a tunnel already followed, so that a list change never connects it twice.
constexpr char watchedProperty[] = "quillbyNotified";

} // namespace

TunnelNotifications::TunnelNotifications(Notifier* notifier, QObject* parent)
    : QObject(parent)
    , m_notifier(notifier) {}

void TunnelNotifications::watch(TunnelStore* store) {
    auto watchAll = [this, store] {
        for (TunnelInstance* tunnel : store->instances())
            watch(tunnel);
    };
    connect(store, &TunnelStore::instancesChanged, this, watchAll);
    watchAll();
    // Removed with its named tunnel (from the window or the command line): once the row is
    // gone, only a notification can say that the named tunnel is still in the account.
    connect(store, &TunnelStore::remoteDeleted, this,
            [this](const QUuid&, const QString& name, const AccountOutcome& outcome) {
                if (outcome.kind != AccountOutcome::Kind::Done)
                    post(tr("'%1' Still in Your Account").arg(name),
                         tr("Its named tunnel could not be deleted from your account: %1\nIts "
                            "credentials file is kept.")
                             .arg(outcome.text()));
            });
}

void TunnelNotifications::watch(TunnelInstance* tunnel) {
    if (tunnel->property(watchedProperty).toBool())
        return;
    tunnel->setProperty(watchedProperty, true);
    // The name at the time of the event: a renamed tunnel's later notifications say the new one.
    connect(tunnel, &TunnelInstance::becameActive, this, [this, tunnel](const QString& url) {
        if (!m_notifier)
            return;
        // Each acts on the URL the notification shows, even after the tunnel moved on; the
        // first is the default action.
        m_notifier->notify(
            tr("'%1' Active").arg(tunnel->config().name), url,
            {{QStringLiteral("open"), tr("Open in Browser"), [url] { UrlActions::open(url); }},
             {QStringLiteral("copy"), tr("Copy URL"), [url] { UrlActions::copy(url); }}});
    });
    connect(tunnel, &TunnelInstance::outageContinues, this, [this, tunnel] {
        post(tr("'%1' Reconnecting").arg(tunnel->config().name),
             tr("Lost its connection to the tunnel network; still trying"));
    });
    connect(tunnel, &TunnelInstance::failedToStart, this, [this, tunnel](const QString& reason) {
        post(tr("'%1' Error").arg(tunnel->config().name), tr("Failed to start: %1").arg(reason));
    });
    connect(tunnel, &TunnelInstance::endedUnexpectedly, this,
            [this, tunnel](int status, const QString& reason) {
                QString body = tr("Tunnel crashed (exit code: %1)").arg(status);
                if (!reason.isEmpty())
                    body += QLatin1Char('\n') + reason;
                post(tr("'%1' Stopped").arg(tunnel->config().name), body);
            });
    connect(tunnel, &TunnelInstance::stoppedAtLimit, this,
            [this, tunnel](std::chrono::seconds sharedFor) {
                post(tr("'%1' Stopped").arg(tunnel->config().name),
                     tr("Shared for %1, as asked").arg(ShareDuration::inWords(sharedFor)));
            });
}

void TunnelNotifications::post(const QString& title, const QString& body) {
    if (m_notifier)
        m_notifier->notify(title, body);
}
