#include "model/AccountOutcome.h"

#include <QRegularExpression>

namespace {

QString lastLine(const QString& output) {
    const QStringList lines = output.trimmed().split(u'\n');
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

// What every account command can fail with before it gets an answer, or with the API's answer
// ("Failed to add route: code: 1003, reason: ...").
AccountOutcome failure(const QString& output) {
    using Kind = AccountOutcome::Kind;
    static const QRegularExpression apiReason(QStringLiteral("code: (\\d+), reason: ([^\\n]*)"));
    const QRegularExpressionMatch reason = apiReason.match(output);
    const QString detail = reason.hasMatch() ? reason.captured(2).trimmed() : lastLine(output);
    if (output.contains(u"Error locating origin cert") ||
        output.contains(u"Error decoding origin cert") ||
        output.contains(u"Origin certificate needs to be refreshed"))
        return AccountOutcome::of(Kind::NotSignedIn, detail);
    // 10000: the API's "Authentication error"; without a JSON answer, 401 and 403 read so.
    if (reason.captured(1) == u"10000" || output.contains(u": unauthorized"))
        return AccountOutcome::of(Kind::Refused, detail);
    if (output.contains(u"tunnel with name already exists"))
        return AccountOutcome::of(Kind::NameTaken, detail);
    if (output.contains(u"already exists") && reason.hasMatch())
        return AccountOutcome::of(Kind::HostTaken, detail);
    if (output.contains(u"REST request failed"))
        return AccountOutcome::of(Kind::Unreachable, detail);
    return AccountOutcome::of(Kind::Failed, detail);
}

} // namespace

AccountOutcome AccountOutcome::of(Kind kind, const QString& detail) {
    AccountOutcome outcome;
    outcome.kind = kind;
    outcome.detail = detail;
    return outcome;
}

AccountOutcome AccountOutcome::ofCreate(int exitCode, const QString& output) {
    static const QRegularExpression created(
        QStringLiteral("Created tunnel \\S+ with id ([0-9a-fA-F-]{36})"));
    const QRegularExpressionMatch match = created.match(output);
    if (exitCode != 0 || !match.hasMatch())
        return failure(output);
    AccountOutcome outcome = of(Kind::Done);
    outcome.remote = QUuid::fromString(match.captured(1));
    return outcome;
}

AccountOutcome AccountOutcome::ofRoute(int exitCode, const QString& output,
                                       const QString& hostname) {
    static const QRegularExpression routed(
        QStringLiteral("(?:Added CNAME (\\S+) which will route to this tunnel|(\\S+) is already "
                       "configured to route to your tunnel|(\\S+) updated to route to your "
                       "tunnel)"));
    const QRegularExpressionMatch match = routed.match(output);
    AccountOutcome outcome = exitCode == 0 && match.hasMatch() ? of(Kind::Done) : failure(output);
    outcome.hostname = hostname;
    if (outcome.kind != Kind::Done)
        return outcome;
    // The API reads a name outside the zone as one inside it: dev.other.org on example.com
    // becomes dev.other.org.example.com. The record is made; say where it went.
    const QString name = match.captured(1) + match.captured(2) + match.captured(3);
    const QString suffix = name.mid(hostname.size() + 1);
    if (name.compare(hostname, Qt::CaseInsensitive) != 0) {
        outcome.kind = Kind::OutsideZone;
        outcome.detail = name;
        if (name.startsWith(hostname + u'.', Qt::CaseInsensitive))
            outcome.zone = suffix;
    }
    return outcome;
}

AccountOutcome AccountOutcome::ofDelete(int exitCode, const QString& output) {
    // Success prints nothing; a tunnel already gone is as good as deleted.
    if (exitCode == 0 || output.contains(u"code: 1003") || output.contains(u": not found"))
        return of(Kind::Done);
    return failure(output);
}

QString AccountOutcome::text() const {
    switch (kind) {
    case Kind::Done:
        return {};
    case Kind::NotSignedIn:
        return tr("Sign in first: a tunnel on your own domain needs your account with the tunnel "
                  "service");
    case Kind::NameTaken:
        return tr("The account already has a tunnel of this name: %1").arg(detail);
    case Kind::OutsideZone:
        return zone.isEmpty()
                   ? tr("%1 is outside the domain you signed in for: %2").arg(hostname, detail)
                   : tr("%1 is outside %2, the domain you signed in for; the service made a "
                        "record %3 instead, which you can delete in its dashboard")
                         .arg(hostname, zone, detail);
    case Kind::HostTaken:
        return tr("%1 already points elsewhere; take it over to point it at this tunnel")
            .arg(hostname);
    case Kind::Unreachable:
        return tr("The tunnel service's account cannot be reached; check the internet connection");
    case Kind::Refused:
        return tr("The tunnel service refused your sign-in (%1); sign in again").arg(detail);
    case Kind::CredentialsMissing:
        return tr("This tunnel's credentials file is gone or unreadable; create the tunnel again");
    case Kind::ClientMissing:
        return tr("cloudflared is not installed");
    case Kind::TimedOut:
        return tr("Signing in timed out: the browser did not finish in time");
    case Kind::Failed:
        break;
    }
    return tr("The tunnel service's client failed: %1").arg(detail);
}
