#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// One Quillby per user. The first instance holds a lock file and listens on a local socket
// that only this user can open (ControlServer answers there); a later one asks it to show its
// window and leaves. A lock left behind by a crashed instance is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Socket and lock live in the user's runtime folder unless a folder is given.
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance (and listens for requests).
    bool claim();
    // The listening socket once claimed; nullptr before, or when it could not listen.
    QLocalServer* server() const { return m_server; }
    // From a later instance: asks the running one to show its window (a show request, sent as
    // the commands send theirs). False when no instance answered within timeoutMs.
    bool handOver(int timeoutMs = 3000);

    QString socketPath() const;
    QString lockPath() const;

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
