#pragma once

#include "model/AccountOutcome.h"
#include "model/AccountSignIn.h"

#include <QObject>

// The user's account with the tunnel service as the window and the command line see it:
// whether a certificate is there, and signing in once. One per application (the store's).
class Account : public QObject {
    Q_OBJECT

public:
    explicit Account(ClientLocator findClient = {}, QObject* parent = nullptr);

    // A certificate with an account token is there (read from the file each time).
    bool signedIn() const;
    bool isSigningIn() const { return m_signIn.isRunning(); }
    // Runs the client's login; signInUrl() when it names the page, signInFinished() at the end
    // (at once when signed in already). A sign-in under way is started over.
    void signIn(std::chrono::milliseconds timeout = std::chrono::minutes(10));
    void cancelSignIn();

signals:
    void signInUrl(const QString& url);
    void signInFinished(const AccountOutcome& outcome);
    // signedIn() may have changed.
    void changed();

private:
    AccountSignIn m_signIn;
};
