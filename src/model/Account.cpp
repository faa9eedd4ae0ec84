#include "model/Account.h"

#include "model/AccountFiles.h"

#include <QFileInfo>

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

bool Account::refused() const {
    return m_refusedFile.isValid() &&
           QFileInfo(AccountFiles::certificatePath()).lastModified() == m_refusedFile;
}

void Account::signIn(std::chrono::milliseconds timeout, bool again) {
    m_signIn.start(timeout, again || refused());
    emit changed();
}

void Account::noteAnswer(const AccountOutcome& outcome) {
    if (outcome.kind != AccountOutcome::Kind::Refused || refused())
        return;
    m_refusedFile = QFileInfo(AccountFiles::certificatePath()).lastModified();
    emit changed();
}

void Account::cancelSignIn() {
    m_signIn.cancel();
    emit changed();
}
