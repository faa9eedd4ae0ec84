#pragma once

#include "model/AccountOutcome.h"
#include "model/CloudflaredLocator.h"

#include <QObject>
#include <QStringList>
#include <functional>

class QProcess;

// Makes a tunnel's named tunnel ready to run, the first time: creates it in the account
// (`quillby-<name>-<short id>`, its credentials in our data folder), then points the hostname at
// it. Nothing is made twice: when routing fails after creation, the next start finds the
// credentials file and routes the tunnel it names. A tunnel whose named tunnel is known and
// whose credentials are there is ready at once, with no account call. Also deletes a named
// tunnel from the account with its credentials. Lives on the GUI thread; never waits.
class NamedTunnelSetup : public QObject {
    Q_OBJECT

public:
    enum class Step { Creating, Routing, Deleting };
    Q_ENUM(Step)

    struct Request {
        QUuid tunnel; // Quillby's id of the tunnel
        QString name; // its name, for the account's list
        QString hostname;
        QUuid remote = {};     // the named tunnel saved with the tunnel once set up; null at first
        bool takeOver = false; // point the hostname here even when another record holds it
        bool recreate = false; // the credentials are gone: delete the named tunnel, make anew
    };

    explicit NamedTunnelSetup(ClientLocator findClient = {}, QObject* parent = nullptr);
    ~NamedTunnelSetup() override;

    // Whether `tunnel run` can start at once: the named tunnel known, its credentials there.
    static bool isReady(const QUuid& tunnel, const QUuid& remote);

    // finished() follows; when Done, outcome.remote is the named tunnel to save with the
    // tunnel (set nowhere else).
    void start(const Request& request);
    // `delete -f`, then the credentials file; remote null: the one the credentials name.
    void deleteRemote(const QUuid& tunnel, const QUuid& remote = {});
    void cancel();
    bool isRunning() const { return m_child != nullptr; }

signals:
    void stepChanged(NamedTunnelSetup::Step step);
    void finished(const AccountOutcome& outcome);

private:
    using Reader = std::function<void(int exitCode, const QString& output)>;
    void runStep(Step step, const QStringList& arguments, Reader read);
    void create();
    void route(const QUuid& remote);
    void finishLater(const AccountOutcome& outcome);

    ClientLocator m_findClient;
    QString m_client;
    Request m_request;
    QProcess* m_child = nullptr;
};
