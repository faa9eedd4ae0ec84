#pragma once

#include "model/CloudflaredLocator.h"

#include <QDateTime>
#include <QObject>
#include <QString>

class QProcess;

// Which client runs the tunnels: the located cloudflared and its version, as
// `cloudflared --version` prints it ("cloudflared version 2026.8.2 (built ...)"). The version is
// read at most once per executable path and modification time, by a child the event loop
// watches, so asking never waits. Lives on the GUI thread.
class ClientVersion : public QObject {
    Q_OBJECT

public:
    // The first client whose quick tunnels print their URL in a box and register as we read.
    static constexpr const char* oldestSupported = "2021.8.4";

    explicit ClientVersion(ClientLocator findClient = {}, QObject* parent = nullptr);
    ~ClientVersion() override;

    // Looks where the client is now; starts reading its version when that executable is new or
    // changed since the last read. changed() follows once the version is known.
    void refresh();
    // The version of the client at path as known now, refreshing first; empty while unknown.
    QString versionOf(const QString& path);

    // Empty when no client was found.
    QString path() const { return m_path; }
    // Empty while unknown, or when the client did not say.
    QString version() const { return m_version; }
    bool isReading() const { return m_reading != nullptr; }

    // "cloudflared version 2026.8.2 (built ...)" gives "2026.8.2"; empty for anything else.
    static QString parse(QByteArrayView output);
    // A known version before oldestSupported.
    static bool isTooOld(const QString& version);
    // For the command line, where waiting is fine: runs the client and reads its answer.
    static QString readNow(const QString& path);

signals:
    void changed();

private:
    ClientLocator m_findClient;
    QString m_path;
    QDateTime m_modified;
    QString m_version;
    QProcess* m_reading = nullptr;
};
