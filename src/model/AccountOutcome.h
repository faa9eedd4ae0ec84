#pragma once

#include <QCoreApplication>
#include <QMetaType>
#include <QString>
#include <QUuid>

// How one step with the tunnel service's account ended (signing in, creating a named tunnel,
// pointing a hostname at it, deleting it), read from the client's output, never from its exit
// status alone; with what to tell the user, in plain words.
struct AccountOutcome {
    Q_DECLARE_TR_FUNCTIONS(AccountOutcome)

public:
    enum class Kind {
        Done,               // signed in, created, routed, deleted
        NotSignedIn,        // no certificate, or an unreadable one
        NameTaken,          // the account has a tunnel of that name already
        OutsideZone,        // the hostname is not in the signed-in domain
        HostTaken,          // another record holds the hostname: offer to take it over
        Unreachable,        // the account API cannot be reached (offline)
        Refused,            // the account API refused the certificate: sign in again
        CredentialsMissing, // the tunnel's credentials file is gone or unreadable
        ClientMissing,      // no cloudflared
        TimedOut,           // signing in: no certificate came in time
        Failed,             // anything else: the client's own line in detail
    };

    Kind kind = Kind::Failed;
    // The account API's reason, or the client's last line.
    QString detail;
    // The hostname, and for OutsideZone the domain the certificate covers when the answer says.
    QString hostname;
    QString zone;
    // The named tunnel: created, routed, or read from its credentials file.
    QUuid remote;

    // Reads the output of `tunnel create`, `route dns`, `delete` or `login` (with its exit
    // status: 0 and a success line count as done).
    static AccountOutcome ofCreate(int exitCode, const QString& output);
    static AccountOutcome ofRoute(int exitCode, const QString& output, const QString& hostname);
    static AccountOutcome ofDelete(int exitCode, const QString& output);
    static AccountOutcome of(Kind kind, const QString& detail = {});

    // What to tell the user, one sentence; empty when done.
    QString text() const;
};

Q_DECLARE_METATYPE(AccountOutcome)
