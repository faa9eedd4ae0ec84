#pragma once

#include "model/ClientProcess.h"

#include <QList>
#include <QPointer>
#include <functional>
#include <memory>

class QObject;

// A client process the test plays in process, for the tunnel's state machine: no child, no
// timer, no sleep. Everything it does happens when the test says so:
//
//   ScriptedClients clients;                   // services.newClient = clients.factory()
//   tunnel.start();
//   ScriptedClient* c = clients.latest();      // c->arguments as launched
//   c->print(ClientLines::urlBox);             // at once, like its standard error
//   c->exit(3);                                // at once: the tunnel handles the exit
//
// stop() ends it with status 15, queued to the event loop as a real child's exit would come
// (QSignalSpy::wait or QTRY_* sees it); with ignoreStop it keeps running until the test calls
// exit(9), as the kill after the grace would.
class ScriptedClient : public ClientProcess {
    Q_OBJECT

public:
    using ClientProcess::ClientProcess;

    // As launched.
    QStringList arguments;
    // Set before the launch: the launch fails with this reason.
    QString launchFailure;
    // stop() is only counted; the test ends the client with exit().
    bool ignoreStop = false;
    int stopsAsked = 0;

    // The client writes text to its standard error.
    void print(QByteArrayView text);
    // The client ends with this status (after everything printed).
    void exit(int status);

    bool launch(const QString& program, const QStringList& arguments, QString* reason) override;
    void stop() override;
    bool isRunning() const override { return m_running; }
    qint64 pid() const override { return m_running ? 1 : 0; }

private:
    bool m_running = false;
};

// Makes scripted clients for TunnelServices::newClient and keeps them, newest last; one deleted
// by its tunnel after its exit reads as null.
class ScriptedClients {
public:
    // Applied to each client made from now on, before its launch.
    std::function<void(ScriptedClient&)> prepare;

    std::function<std::unique_ptr<ClientProcess>(QObject*)> factory();
    ScriptedClient* latest() const { return m_made.isEmpty() ? nullptr : m_made.last().data(); }
    qsizetype count() const { return m_made.size(); }

private:
    QList<QPointer<ScriptedClient>> m_made;
};
