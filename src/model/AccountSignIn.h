#pragma once

#include "model/AccountOutcome.h"
#include "model/CloudflaredLocator.h"

#include <QObject>
#include <QTimer>
#include <chrono>

class QProcess;

// Signing in to the tunnel service's account once: runs `cloudflared tunnel login`, which opens
// the browser (or cannot) and waits for the user there, and reports the URL to open from its
// output. Done is decided by the certificate arriving, never by the client's exit status: with a
// certificate in the way it exits 0 having written nothing. Lives on the GUI thread; never waits.
class AccountSignIn : public QObject {
    Q_OBJECT

public:
    explicit AccountSignIn(ClientLocator findClient = {}, QObject* parent = nullptr);
    ~AccountSignIn() override;

    // Starts signing in; finished() follows, at once when a certificate is there already. The
    // client itself gives up after about ten minutes. replace: the certificate there is no
    // longer good (refused, or another domain is wanted): it is set aside for the login to
    // write a new one, and put back when none comes (failed, timed out, cancelled).
    void start(std::chrono::milliseconds timeout = std::chrono::minutes(10), bool replace = false);
    // Ends the client; a certificate set aside goes back.
    void cancel();
    bool isRunning() const { return m_child != nullptr; }

signals:
    // The page to sign in on, as the client printed it.
    void urlReady(const QString& url);
    // Done, TimedOut, ClientMissing or Failed with the client's reason.
    void finished(const AccountOutcome& outcome);

private:
    void readOutput();
    void finish(const AccountOutcome& outcome);

    ClientLocator m_findClient;
    QProcess* m_child = nullptr;
    QString m_output;
    bool m_urlSeen = false;
    QString m_setAside; // where the certificate replaced is while the client runs
    QTimer m_watch;
    QTimer m_deadline;
};
