#include "control/LoginHandler.h"

#include "control/ControlConnection.h"
#include "control/ControlRequest.h"
#include "model/TunnelStore.h"

void LoginHandler::execute(ControlConnection& connection, const ControlRequest& request) {
    using Kind = AccountOutcome::Kind;
    Account* account = m_store->account();
    connection.follow();
    connection.reply();
    // Goes with the connection: a client gone stops listening, not the sign-in.
    auto* wait = new QObject(&connection);
    QObject::connect(account, &Account::signInUrl, wait, [&connection](const QString& url) {
        connection.sendEvent(
            {{QStringLiteral("event"), QStringLiteral("signInUrl")}, {QStringLiteral("url"), url}});
    });
    QObject::connect(
        account, &Account::signInFinished, wait,
        [&connection, account, wait](const AccountOutcome& outcome) {
            QObject::disconnect(account, nullptr, wait, nullptr);
            wait->deleteLater();
            if (outcome.kind == Kind::Done) {
                connection.sendEvent({{QStringLiteral("event"), QStringLiteral("signedIn")},
                                      {QStringLiteral("ok"), true}});
            } else {
                const ControlError::Code code =
                    outcome.kind == Kind::TimedOut        ? ControlError::Code::Timeout
                    : outcome.kind == Kind::ClientMissing ? ControlError::Code::NoClient
                                                          : ControlError::Code::StartFailed;
                connection.sendEvent({{QStringLiteral("event"), QStringLiteral("failed")},
                                      {QStringLiteral("ok"), false},
                                      {QStringLiteral("error"), ControlError::nameOf(code)},
                                      {QStringLiteral("message"), outcome.text()}});
            }
            connection.close();
        });
    account->signIn(std::chrono::milliseconds(request.waitMs), request.again);
}
