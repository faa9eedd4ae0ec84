#pragma once

#include <QWidget>

class Account;
class BusySpinner;
class ElidedLabel;
class QLabel;
class QToolButton;
struct AccountOutcome;

// The window's line about the account with the tunnel service: "Sign In to Use Your Domain...",
// then, while the client waits for the browser, the page to sign in on (to open or copy when no
// browser came up), then whether it is signed in, or why not ("Sign In Again..." once the account
// refused the certificate). It follows the account, whoever started the sign-in (a row's
// problem, the command line).
class AccountSection : public QWidget {
    Q_OBJECT

public:
    explicit AccountSection(Account* account, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void finished(const AccountOutcome& outcome);

    Account* m_account;
    QToolButton* m_signInButton;
    QLabel* m_signedIn;
    QWidget* m_waitLine;
    BusySpinner* m_spinner;
    QWidget* m_urlLine;
    ElidedLabel* m_urlLabel;
    QToolButton* m_openButton;
    QToolButton* m_copyButton;
    QLabel* m_message;
};
