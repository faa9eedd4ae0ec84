#pragma once

#include <QByteArrayView>
#include <QObject>
#include <QStringList>

// One run of the tunnel client, as the tunnel sees it: launched once, its standard error
// handed over as it comes, asked to stop, its exit told. QProcessClient runs the real child;
// tests drive a scripted one in process (tests/support/ScriptedClient.h).
class ClientProcess : public QObject {
    Q_OBJECT

public:
    // A client that ignores the request to stop is killed after this long.
    static constexpr int killGraceMs = 5000;
    // The exit status of a client ended by our request to stop (the signal's number).
    static constexpr int terminatedStatus = 15;

    using QObject::QObject;

    // Starts the client; false, with the reason in plain words, when it cannot be run (and then
    // nothing is emitted).
    virtual bool launch(const QString& program, const QStringList& arguments, QString* reason) = 0;
    // Asks the client to end, and ends it for good after killGraceMs. exited() follows.
    virtual void stop() = 0;
    // Launched and its exit not told yet.
    virtual bool isRunning() const = 0;
    // The operating system's id of the child; 0 when there is none.
    virtual qint64 pid() const = 0;

signals:
    // A piece of the client's standard error, not necessarily whole lines. Valid during the
    // call only. Everything the client wrote comes before exited().
    void errorOutput(QByteArrayView chunk);
    // The client ended: its exit status, or the number of the signal that ended it.
    void exited(int status);
};
