// Reading the client's lines, as each generation prints them (2021 to 2026), for its
// connections and its problems, whatever the read boundaries.
#include "ClientLines.h"
#include "model/ClientLogClassifier.h"
#include "model/ProblemBoard.h"

#include <QTest>

using namespace ClientLines;

namespace {

// Registrations of connection %1, by generation.
const char* const registered2022 = "INF Connection 3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b77 registered "
                                   "connIndex=%1 ip=198.41.200.13 location=AMS";
const char* const registered2023 = "INF Connection 3f1c0a52-2f7e-4b8e-9a41-0c6d2f9e1b77 registered "
                                   "with protocol: quic connIndex=%1 ip=198.41.200.13 location=AMS";

// A connection lost: until 2024.10 with an "Unregistered" line, since then without.
const QByteArray lost2023 =
    at("INF Unregistered tunnel connection connIndex=0 event=0 ip=198.41.200.13") +
    at("ERR Serve tunnel error error=\"timeout: no recent network activity\" connIndex=0 event=0 "
       "ip=198.41.200.13") +
    at("INF Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.200.13");
// While the tunnel network cannot be reached, every few seconds.
const QByteArray redial2026 =
    at("ERR Failed to dial a quic connection error=\"failed to dial to edge with quic: timeout: no "
       "recent network activity\" connIndex=0 event=0 ip=198.41.192.77") +
    at("ERR Connection terminated error=\"failed to dial to edge with quic: timeout: no recent "
       "network activity\" connIndex=0") +
    at("INF Retrying connection in up to 2s connIndex=0 event=0 ip=198.41.192.77");
const QByteArray tcpTimeout =
    at("ERR Unable to establish connection with Cloudflare edge error=\"DialContext error: dial "
       "tcp 198.41.200.63:7844: i/o timeout\" connIndex=0");
const QByteArray lookup = at(
    "ERR edge discovery: error looking up Cloudflare edge IPs: the DNS query failed error=\"lookup "
    "_v2-origintunneld._tcp.argotunnel.com on 127.0.0.53:53: no such host\" event=0");
const QByteArray udpHint = at(
    "WRN If this log occurs persistently, and cloudflared is unable to connect to Cloudflare "
    "Network with `quic` protocol, then most likely your machine/network is getting its egress UDP "
    "to port 7844 (or others) blocked or dropped. Make sure to allow egress connectivity as per "
    "https://developers.cloudflare.com/cloudflare-one/connections/connect-apps/configuration/"
    "ports-and-ips/");

// Upkeep: never a problem, never the last error.
const QByteArray upkeep =
    at("ERR update check failed error=\"Get "
       "\\\"https://update.argotunnel.com?arch=amd64&clientVersion=2023.7.3&os=linux\\\": dial "
       "tcp: lookup update.argotunnel.com on 127.0.0.53:53: no such host\"") +
    at("WRN Unable to lookup protocol percentage.") +
    at("WRN ICMP proxy feature is disabled error=\"cannot create ICMPv4 proxy: ...\"") +
    at("ERR Configuration file /dev/null was empty") +
    at("INF +-------------------------------------------------------------+") +
    at("INF |                   CONNECTIVITY PRE-CHECKS                   |") +
    at("INF |  COMPONENT         TARGET              STATUS  DETAILS         |") +
    at("INF |  UDP Connectivity  Port 7844 (QUIC)    FAIL    QUIC connection failed |") +
    at("INF |  ERROR: Allow outbound QUIC traffic on port 7844 or use HTTP2. |") +
    at("INF precheck component=\"UDP Connectivity\" details=\"QUIC connection failed\" run_id=0b6f "
       "status=fail target=\"Port 7844 (QUIC)\"") +
    at("INF precheck complete hard_fail=true run_id=0b6f") +
    at("INF Initiating graceful shutdown due to signal terminated ...");

const QString unreachable =
    "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked";
const QString lookupFailed = "The tunnel network cannot be looked up (DNS)";
const QString limited = "The tunnel service is limiting new tunnels; try again in a few minutes";
const QString serviceFailed =
    "The tunnel service failed to create the tunnel; try again in a few minutes";

} // namespace

class TestClientLog : public QObject {
    Q_OBJECT

private slots:
    void readsConnectionsAndTheLatestProblem_data() {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("connections");
        QTest::addColumn<QString>("problem");     // while running
        QTest::addColumn<QString>("exitProblem"); // for a failed exit; "=": as while running
        auto row = [](const char* name, const QByteArray& output, int connections,
                      const QString& problem = {}, const QString& exitProblem = "=") {
            QTest::newRow(name) << output << connections << problem
                                << (exitProblem == "=" ? problem : exitProblem);
        };
        // Registered, as each generation says it (2023.4 to 2026: "upkeep never counts").
        row("2023.2 registered", at(registered2023), 1);
        row("2022, four registered, one left",
            at(registered2022, {0, 1, 2, 3}) +
                at("INF Unregistered tunnel connection connIndex=1") +
                at("WRN Connection terminated error=\"EOF\" connIndex=2") +
                at("WRN Serve tunnel error error=\"EOF\" connIndex=3 event=0"),
            1);

        // Lost, with and without the "Unregistered" line; back again.
        const QString serveError = "Serve tunnel error error=\"timeout: no recent network "
                                   "activity\" connIndex=0 event=0 ip=198.41.200.13";
        row("2023 lost", at(registered) + lost2023, 0, {}, serveError);
        row("2026 lost", at(registered) + lost2026, 0, {}, serveError);
        row("2026 lost, edge gone", at(registered) + lost2026 + redial2026, 0, unreachable);

        // The tunnel network.
        // 2023's quic time-outs, and a registration answering them, are tst_tunnelinstance's
        // problemsByRank (rows E).
        row("over TCP", tcpTimeout, 0, unreachable);
        row("UDP 7844 hint", udpHint, 0, unreachable);
        row("UDP 7844 hint while connected", at(registered) + udpHint, 1);
        row("lookup, then time-outs: the latest wins", lookup + redial2026, 0, unreachable);
        row("lookup fails, hints, exit",
            lookup + at("ERR Please try the following things to diagnose this issue") +
                bare("Could not lookup srv records on _v2-origintunneld._tcp.argotunnel.com: "
                     "lookup _v2-origintunneld._tcp.argotunnel.com on 127.0.0.53:53: no such host"),
            0, lookupFailed);
        row("SRV record",
            at("ERR Couldn't resolve SRV record _v2-origintunneld._tcp.argotunnel.com: lookup: no "
               "such host"),
            0, lookupFailed);
        const QString refused =
            "The tunnel service refused the tunnel: Unauthorized: Failed to get tunnel";
        const QByteArray refusal =
            at("ERR Register tunnel error from server side error=\"Unauthorized: Failed to get "
               "tunnel\" connIndex=0 event=0 ip=198.41.200.13");
        row("refused by the service", refusal, 0, refused);
        row("refused, then the first connection fails",
            refusal +
                at("ERR initial tunnel connection failed error=\"Unauthorized: Failed to get "
                   "tunnel\"") +
                bare("Unauthorized: Failed to get tunnel"),
            0, refused);
        row("first connection fails",
            at("ERR initial tunnel connection failed error=\"context canceled\""), 0,
            "The tunnel could not connect to the tunnel network");

        // The quick-tunnel service.
        row("no internet", apiFailure, 0,
            "No internet connection: the tunnel service cannot be reached");
        const char* unmarshal = "failed to unmarshal quick Tunnel: invalid character 'e' looking "
                                "for beginning of value";
        row("429",
            at("ERR Error unmarshaling QuickTunnel response: error code: 1015 error=\"invalid "
               "character 'e' looking for beginning of value\" status_code=\"429 Too Many "
               "Requests\"") +
                bare(unmarshal),
            0, limited);
        row("429, before 2023", bare(unmarshal), 0, limited);
        row("500",
            at("ERR Error unmarshaling QuickTunnel response: error code: 1101 error=\"invalid "
               "character 'e' looking for beginning of value\" status_code=\"500 Internal Server "
               "Error\"") +
                bare(unmarshal),
            0, "The tunnel service failed (HTTP 500 Internal Server Error)");
        row("no tunnel in the answer",
            bare("failed to parse quick Tunnel ID: invalid UUID length: 0"), 0, serviceFailed);
        row("2026 answer cut", bare("failed to read quick-tunnel response: unexpected EOF"), 0,
            serviceFailed);
        row("2026 bad request",
            bare("failed to build quick tunnel request: parse \"::\": missing protocol scheme"), 0,
            serviceFailed);

        // The local server: named by the tunnel's port, never by the forwarded address. Refused
        // is tst_tunnelinstance's problemsByRank (rows O); hanging up ("EOF") alone, its
        // portChangeNamesTheNewPort.
        row("accepts, never answers",
            originPair("dial tcp 127.0.0.1:8000: i/o timeout", "/EOF%20connection%20refused"), 0,
            "The server on port 5173 accepts connections but does not answer");
        const QString hungUp = "The server on port 5173 closes connections without answering";
        row("resets",
            originPair("read tcp 127.0.0.1:50312->127.0.0.1:8000: read: connection reset by peer"),
            0, hungUp);
        row("no such host", originPair("dial tcp: lookup devbox on 127.0.0.53:53: no such host"), 0,
            "The local server's host name cannot be looked up (port 5173)");
        row("local problem outlives a registration", originPair("EOF") + lost2026 + at(registered),
            1, hungUp);

        // The client's own life.
        row("updated itself",
            at(registered) + at("INF cloudflared has been updated version=2026.9.0") +
                bare("cloudflared has been updated to version 2026.9.0"),
            1,
            "cloudflared updated itself to version 2026.9.0 and stopped; start the tunnel again");
        row("upkeep never counts", at(registered) + upkeep, 1, {}, {});
        row("an unknown last line, trimmed",
            at("INF Starting metrics server") + "panic:   something   odd\r\n", 0, {},
            "panic: something odd");
    }

    void readsConnectionsAndTheLatestProblem() {
        QFETCH(QByteArray, output);
        QFETCH(int, connections);
        QFETCH(QString, problem);
        QFETCH(QString, exitProblem);
        // Every split point: a line cut in two must read as the whole line.
        for (qsizetype cut = 0; cut <= output.size(); cut += 7) {
            ClientLogClassifier reader;
            reader.feed(QByteArrayView(output).first(cut));
            reader.feed(QByteArrayView(output).sliced(cut));
            QCOMPARE(reader.connections(), connections);
            reader.finish();
            QCOMPARE(ProblemBoard::clientText(reader.problem(), 5173), problem);
            QCOMPARE(ProblemBoard::clientText(reader.exitProblem(), 5173), exitProblem);
        }
    }
};

QTEST_APPLESS_MAIN(TestClientLog)
#include "tst_clientlog.moc"
