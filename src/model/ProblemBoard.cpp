#include "model/ProblemBoard.h"

#include "model/ClientVersion.h"
#include "model/OriginProbe.h"
#include "model/RefusalText.h"
#include "model/TunnelConfig.h"

namespace {

using Kind = ClientLogClassifier::Kind;

bool refused(const ClientLogClassifier::Problem& problem) {
    return problem.kind == Kind::OriginRefused;
}

bool aboutOrigin(const ClientLogClassifier::Problem& problem) {
    return problem.aboutOrigin();
}

} // namespace

ProblemBoard::ProblemBoard(const TunnelConfig& config, ClientLogClassifier& client, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_client(client) {}

std::optional<ProblemBoard::Source> ProblemBoard::shown() const {
    for (size_t i = 0; i < m_reports.size(); ++i)
        if (m_reports[i])
            return Source(i);
    return std::nullopt;
}

void ProblemBoard::clear() {
    ++m_looks;
    m_reports = {};
    m_clientSeen = {};
    refresh();
}

void ProblemBoard::launchFailed(LaunchCheck check, const QString& argument) {
    file(Source::Launch, Report{int(check), argument, {}});
}

void ProblemBoard::accountFailed(const QString& text, const QString& detail) {
    file(Source::Launch, Report{int(LaunchCheck::Account), text, detail});
}

void ProblemBoard::readClient() {
    const ClientLogClassifier::Problem& problem = m_client.problem();
    if (!problem.sameAs(m_clientSeen))
        takeClientProblem(problem);
}

QString ProblemBoard::clientFailed() {
    const ClientLogClassifier::Problem problem = m_client.exitProblem();
    if (problem.kind == Kind::None)
        return {};
    takeClientProblem(problem);
    return clientText(problem, m_config.port);
}

void ProblemBoard::takeClientProblem(const ClientLogClassifier::Problem& problem) {
    m_clientSeen = problem;
    file(Source::Client,
         problem.kind == Kind::None
             ? std::nullopt
             : std::optional(Report{int(problem.kind), problem.argument, problem.line}));
}

void ProblemBoard::dropClientProblemIf(bool (*about)(const ClientLogClassifier::Problem&)) {
    if (!about(m_clientSeen))
        return;
    // Forgotten by the classifier too, so that the same line read again files it again.
    m_client.clearProblem();
    takeClientProblem({});
}

void ProblemBoard::gatewayReached(bool answers) {
    if (answers)
        file(Source::Origin, std::nullopt);
    else
        file(Source::Origin, Report{RequestFailed, {}, {}});
}

void ProblemBoard::gatewayRefused(HostCheck check) {
    file(Source::HostCheck,
         check == HostCheck::None ? std::nullopt : std::optional(Report{int(check), {}, {}}));
}

void ProblemBoard::gatewaySawEdge(bool eventStream, const QString& slowRequest,
                                  bool inFlightLimit) {
    if (!slowRequest.isEmpty())
        file(Source::Edge, Report{SlowFirstByte, slowRequest, {}});
    else if (inFlightLimit)
        file(Source::Edge, Report{InFlightLimit, {}, {}});
    else if (eventStream)
        file(Source::Edge, Report{EventStream, {}, {}});
    else
        file(Source::Edge, std::nullopt);
}

void ProblemBoard::lookAtOrigin(bool mayClear) {
    OriginProbe::look(m_config.port, this, [this, mayClear, look = m_looks](bool listening) {
        if (look == m_looks)
            originLooked(listening, mayClear);
    });
}

void ProblemBoard::originLooked(bool listening, bool mayClear) {
    if (!listening) {
        file(Source::Origin, Report{LookedAt, {}, {}});
        return;
    }
    if (!mayClear)
        return;
    // The server answers now: what said it did not is over.
    file(Source::Origin, std::nullopt);
    dropClientProblemIf(refused);
}

void ProblemBoard::stopLooking() {
    ++m_looks;
}

void ProblemBoard::portChanged() {
    ++m_looks;
    m_reports[size_t(Source::HostCheck)].reset();
    m_reports[size_t(Source::Origin)].reset();
    if (const auto& launch = m_reports[size_t(Source::Launch)];
        launch && launch->kind == int(LaunchCheck::PortOutOfRange))
        m_reports[size_t(Source::Launch)].reset();
    dropClientProblemIf(aboutOrigin);
    refresh();
}

void ProblemBoard::file(Source source, std::optional<Report> report) {
    m_reports[size_t(source)] = std::move(report);
    refresh();
}

void ProblemBoard::refresh() {
    const std::optional<Source> source = shown();
    const auto [text, detail] =
        source ? render(*source, *m_reports[size_t(*source)]) : std::pair<QString, QString>();
    if (text == m_text && detail == m_detail)
        return;
    m_text = text;
    m_detail = detail;
    emit changed();
}

std::pair<QString, QString> ProblemBoard::render(Source source, const Report& report) const {
    const qint64 port = m_config.port;
    switch (source) {
    case Source::Launch:
        switch (LaunchCheck(report.kind)) {
        case LaunchCheck::PortOutOfRange:
            return {tr("Port %1 is outside 1 to 65535; enter another to start").arg(port), {}};
        case LaunchCheck::ClientTooOld:
            return {tr("cloudflared %1 is too old for quick tunnels; update it to %2 or newer")
                        .arg(report.argument, QLatin1StringView(ClientVersion::oldestSupported)),
                    {}};
        case LaunchCheck::GatewayCannotListen:
            return {tr("Cannot start: the gateway cannot listen (%1)").arg(report.argument), {}};
        case LaunchCheck::Account:
            return {report.argument, report.line};
        }
        break;
    case Source::Client:
        return {clientText({Kind(report.kind), report.argument, report.line}, port), report.line};
    case Source::HostCheck: {
        const auto check = HostCheck(report.kind);
        return {RefusalText::problem(check, m_config.rewriteHost),
                RefusalText::detail(check, m_config.rewriteHost, m_config.name, port)};
    }
    case Source::Origin:
        return {clientText({Kind::OriginRefused, {}, {}}, port),
                report.kind == LookedAt
                    ? tr("Nothing accepts connections on 127.0.0.1:%1 or [::1]:%1").arg(port)
                    : tr("A request through the tunnel found nothing listening on port %1 on "
                         "this computer")
                          .arg(port)};
    case Source::Edge:
        switch (EdgeKind(report.kind)) {
        case SlowFirstByte:
            return {tr("%1 waited over 100 s for its first byte; the visitor got error 524")
                        .arg(report.argument),
                    {}};
        case InFlightLimit:
            return {tr("200 requests are in flight at once, a quick tunnel's limit; more get "
                       "error 429"),
                    {}};
        case EventStream:
            return {tr("The server on port %1 streams server-sent events, which a quick "
                       "tunnel's edge holds back until each stream ends; a tunnel on your own "
                       "domain streams them")
                        .arg(port),
                    {}};
        }
        break;
    }
    return {};
}

QString ProblemBoard::clientText(const ClientLogClassifier::Problem& problem, qint64 port) {
    const QString& argument = problem.argument;
    switch (problem.kind) {
    case Kind::None:
        return {};
    case Kind::NoInternet:
        return tr("No internet connection: the tunnel service cannot be reached");
    case Kind::RateLimited:
        return tr("The tunnel service is limiting new tunnels; try again in a few minutes");
    case Kind::ServiceFailed:
        return argument.isEmpty()
                   ? tr("The tunnel service failed to create the tunnel; try again in a few "
                        "minutes")
                   : tr("The tunnel service failed (HTTP %1)").arg(argument);
    case Kind::ServiceRefused:
        return tr("The tunnel service refused the tunnel: %1").arg(argument);
    case Kind::EdgeLookupFailed:
        return tr("The tunnel network cannot be looked up (DNS)");
    case Kind::EdgeUnreachable:
        return tr("The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be "
                  "blocked");
    case Kind::ConnectFailed:
        return tr("The tunnel could not connect to the tunnel network");
    case Kind::ClientUpdated:
        return tr("cloudflared updated itself to version %1 and stopped; start the tunnel again")
            .arg(argument);
    // The client dials the gateway: the address in its line is not the one the user knows.
    case Kind::OriginRefused:
        return tr("Nothing answers on port %1").arg(port);
    case Kind::OriginTimeout:
        return tr("The server on port %1 accepts connections but does not answer").arg(port);
    case Kind::OriginHungUp:
        return tr("The server on port %1 closes connections without answering").arg(port);
    case Kind::OriginUnknownHost:
        return tr("The local server's host name cannot be looked up (port %1)").arg(port);
    case Kind::OriginFailed:
        return tr("Requests to the server on port %1 fail").arg(port);
    case Kind::ClientError:
        return argument;
    }
    return {};
}
