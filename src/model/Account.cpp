#include "model/Account.h"

#include "model/AccountFiles.h"

Account::Account(ClientLocator findClient, QObject* parent)
    : QObject(parent)
    , m_signIn(std::move(findClient)) {
    connect(&m_signIn, &AccountSignIn::urlReady, this, &Account::signInUrl);
    connect(&m_signIn, &AccountSignIn::finished, this, [this](const AccountOutcome& outcome) {
        emit signInFinished(outcome);
        emit changed();
    });
}

bool Account::signedIn() const {
    return AccountFiles::signedIn();
}

void Account::signIn(std::chrono::milliseconds timeout) {
    m_signIn.start(timeout);
    emit changed();
}

void Account::cancelSignIn() {
    m_signIn.cancel();
    emit changed();
}
