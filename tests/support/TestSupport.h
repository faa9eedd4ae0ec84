#pragma once

#include "model/CloudflaredLocator.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace TestSupport {

// The stand-in client built beside the tests.
inline QString fakeClientPath() {
    return QStringLiteral(QUILLBY_FAKE_CLIENT);
}
// A locator that always answers the stand-in client.
inline ClientLocator fakeClientLocator() {
    return [] { return std::optional(fakeClientPath()); };
}
// A locator that never finds a client.
inline ClientLocator missingClientLocator() {
    return [] { return std::optional<QString>(); };
}

// A temporary home: HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and XDG_DATA_HOME point into it while it
// lives, so nothing touches the user's real settings.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/.config"); }
    // A settings file of our own in this home.
    std::unique_ptr<QSettings> settings() const;
    QString settingsPath() const { return configHome() + QStringLiteral("/quillby.conf"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_old[4]; // HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_DATA_HOME as they were
};

// A loopback port nothing listens on: one the system handed out and the test closed again.
quint16 closedPort();

// An account certificate as the client's login writes it.
inline const char* const certificate = "-----BEGIN ARGO TUNNEL TOKEN-----\neyJ6b25lSUQiOiI3YjBh\n"
                                       "-----END ARGO TUNNEL TOKEN-----\n";
// Writes content to path, making its folder.
void writeFile(const QString& path, const QByteArray& content);
// Empty when it cannot be read.
QByteArray readFile(const QString& path);

// The stand-in account API (account_api.py) in one of its modes, at TUNNEL_API_URL; "offline":
// none listens there.
class AccountApi {
public:
    explicit AccountApi(const QString& mode);
    ~AccountApi();
    // Calls answered so far that name what: "POST", "PUT /zones", " /" for any.
    int calls(const QByteArray& what);

private:
    QProcess m_server;
    QByteArray m_log;
};

// Whether a process exists and has not finished (a zombie counts as finished).
bool processAlive(qint64 pid);
// The live children of `parent` now.
QList<qint64> childrenOf(qint64 parent);

// One notification as the running notification daemon (dunst) recorded it.
struct ShownNotification {
    QString summary, body;
};
// Closes every shown notification and returns the daemon's history, oldest first.
// Empty when no daemon runs.
QList<ShownNotification> takeNotifications();
// Whether a notification daemon owns org.freedesktop.Notifications on the session bus.
bool notificationDaemonRunning();

} // namespace TestSupport
