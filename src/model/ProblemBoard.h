#pragma once

#include "model/ClientLogClassifier.h"
#include "proxy/HostCheck.h"

#include <QObject>
#include <array>
#include <optional>

struct TunnelConfig;

// What stands in a tunnel's way, in plain words, for the row, `list` and a crash notice. Every
// source of a problem reports here; the board shows the report of the highest rank, its text
// naming the tunnel's name and port as they are now. A report stays until its source takes it
// back, the next launch, or, when it is about the port, a change of port; a higher one hides a
// lower one without erasing it.
//
// A new source: a value in Source at its rank, a method that files its report, its words in
// render().
class ProblemBoard : public QObject {
    Q_OBJECT

public:
    // The sources, highest rank first.
    enum class Source {
        Launch,    // our own checks before a launch
        Client,    // the client's lines (ClientLogClassifier)
        HostCheck, // the dev server's host check refused requests, seen by the gateway
        Origin,    // nothing accepts connections on the port, seen by our look or the gateway
        // What the tunnel service's edge does to visitors, seen by the gateway: below every
        // problem that keeps the tunnel from working at all, and gone by itself a while after
        // it was last seen.
        Edge,
    };
    enum class LaunchCheck { PortOutOfRange, ClientTooOld, GatewayCannotListen, Account };

    // config and client: the tunnel's, read whenever a text is made; both must outlive the board.
    ProblemBoard(const TunnelConfig& config, ClientLogClassifier& client,
                 QObject* parent = nullptr);

    // Empty when nothing stands in the way.
    QString text() const { return m_text; }
    // The words behind the text (the client's own line, what was looked at).
    QString detail() const { return m_detail; }
    // Where the shown problem comes from; nullopt when none is shown.
    std::optional<Source> shown() const;

    // A launch begins: nothing reported before applies any more.
    void clear();
    // A launch was refused by our own check; argument: the client's version or the reason.
    void launchFailed(LaunchCheck check, const QString& argument = {});
    // Setting the named tunnel up failed: text in plain words (AccountOutcome's), detail the
    // client's reason.
    void accountFailed(const QString& text, const QString& detail);
    // The client's lines were read: its current problem, whenever it changed.
    void readClient();
    // The client ended with a failure status: its last words count too. Returns the text for the
    // crash notice, empty when the client named nothing.
    QString clientFailed();
    // The latest request through the gateway found the server answering, or not.
    void gatewayReached(bool answers);
    // The dev server's host check the gateway saw refusing requests (None: no more).
    void gatewayRefused(HostCheck check);
    // The edge's limits the gateway saw lately: an answer streaming server-sent events, held back
    // by a quick tunnel's edge; the request ("METHOD /path") that waited past the edge's limit
    // for its first byte, or empty; the requests in flight at the quick tunnel's limit.
    void gatewaySawEdge(bool eventStream, const QString& slowRequest, bool inFlightLimit);
    // Looks whether anything accepts connections on the port, without blocking; the answer is
    // filed when it comes, unless stopLooking() or a port change came first. mayClear: a server
    // found also ends what said nothing answers (not at launch, where the client's lines may
    // come before the answer and are newer).
    void lookAtOrigin(bool mayClear = true);
    void stopLooking();
    // The port changed: reports about the old one no longer apply.
    void portChanged();
    // The name or a switch changed: the texts are made again.
    void refresh();

    // The words for a problem the client named, for a tunnel on port.
    static QString clientText(const ClientLogClassifier::Problem& problem, qint64 port);

signals:
    void changed();

private:
    struct Report {
        int kind = 0;
        QString argument;
        QString line; // the client's
    };
    enum OriginKind { LookedAt, RequestFailed };
    enum EdgeKind { SlowFirstByte, InFlightLimit, EventStream }; // the first one seen shows

    void file(Source source, std::optional<Report> report);
    void takeClientProblem(const ClientLogClassifier::Problem& problem);
    void dropClientProblemIf(bool (*about)(const ClientLogClassifier::Problem&));
    void originLooked(bool listening, bool mayClear);
    std::pair<QString, QString> render(Source source, const Report& report) const;

    const TunnelConfig& m_config;
    ClientLogClassifier& m_client;
    std::array<std::optional<Report>, 5> m_reports;
    ClientLogClassifier::Problem m_clientSeen; // the classifier's problem last taken
    int m_looks = 0;                           // a look's answer counts while this is unchanged
    QString m_text;
    QString m_detail;
};
