#pragma once

#include "model/AccountOutcome.h"
#include "model/AccountSignIn.h"

#include <QDateTime>
#include <QObject>

// The user's account with the tunnel service as the window and the command line see it:
// whether a certificate is there, and signing in once. One per application (the store's).
class Account : public QObject {
    Q_OBJECT

public:
    explicit Account(ClientLocator findClient = {}, QObject* parent = nullptr);

    // A certificate with an account token is there (read from the file each time).
    bool signedIn() const;
    // The account refused the certificate that is there (expired or revoked): signing in
    // replaces it. Forgotten once another file is there.
    bool refused() const;
    bool isSigningIn() const { return m_signIn.isRunning(); }
    // Runs the client's login; signInUrl() when it names the page, signInFinished() at the end
    // (at once when signed in already, unless the certificate was refused or again is asked:
    // then the old one is set aside beside it, and put back when no new one comes). A sign-in
    // under way is started over.
    void signIn(std::chrono::milliseconds timeout = std::chrono::minutes(10), bool again = false);
    void cancelSignIn();
    // What an account call answered: a refusal is remembered for refused().
    void noteAnswer(const AccountOutcome& outcome);

signals:
    void signInUrl(const QString& url);
    void signInFinished(const AccountOutcome& outcome);
    // signedIn() may have changed.
    void changed();

private:
    AccountSignIn m_signIn;
    QDateTime m_refusedFile; // when the refused certificate's file was written
};
