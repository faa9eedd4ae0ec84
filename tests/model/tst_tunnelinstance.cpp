// A tunnel's life in process, against the scripted client and real loopback servers: what the
// client prints and how it ends decide the state, the URL, the problem and the events told;
// which problem shows when several sources report (ProblemBoard). Which problem each client line
// means is tst_clientlog's; the real child's command line and stop are tst_client's; a killed
// application's children and Quit's wait for stubborn ones are tst_faults'.
#include "ClientLines.h"
#include "ScriptedClient.h"
#include "TestSupport.h"
#include "app/TrayToolTip.h"
#include "model/AccountFiles.h"
#include "model/RefusalText.h"
#include "model/TunnelInstance.h"
#include "proxy/BasicAuthGuard.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace ClientLines;
using namespace TestSupport;
using State = TunnelInstance::State;

namespace {

constexpr int noticeMs = 50; // an outage is told after this long
const QString eventStreamLine =
    "The server on port %1 streams server-sent events, which a quick tunnel's edge holds back "
    "until each stream ends; a tunnel on your own domain streams them";

// A real local server on 127.0.0.1 (4), on ::1 only (6), or a port nobody listens on (0).
struct Origin {
    QTcpServer server;
    qint64 port = 0;
    explicit Origin(int family) {
        server.listen(family == 6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
        port = server.serverPort();
        if (family == 0)
            server.close();
    }
};

// What the client prints, how it ends, and what must come of it.
struct Run {
    QByteArray output;
    int exit = -1;        // the client ends by itself with this status; -1: we stop it
    State state;          // after the output
    QString problem = {}; // %1: the port; kept after the end
    QStringList events = {};
    int listen = 4;         // see Origin
    QByteArray onStop = {}; // printed after Stop, before it exits with stopStatus
    int stopStatus = 15;
    int limit = 0;  // Stop After, in seconds, set after the output
    int outage = 0; // every connection lost: 1 back before the notice, 2 after it
};

} // namespace

Q_DECLARE_METATYPE(Run)

class TestTunnelInstance : public QObject {
    Q_OBJECT

    ScriptedClients m_clients;
    QStringList m_events;

    // A tunnel on port whose events are written down, with scripted clients; with a remote, on
    // dev.example.com by that named tunnel.
    std::unique_ptr<TunnelInstance> tunnel(qint64 port = 3000, const QUuid& remote = {}) {
        TunnelConfig config = TunnelConfig::create(QStringLiteral("T"), port);
        config.hostname = remote.isNull() ? QString() : QStringLiteral("dev.example.com");
        config.remote = remote;
        auto t = std::make_unique<TunnelInstance>(
            config, TunnelInstance::Services{.findClient = fakeClientLocator(),
                                             .outageNoticeMs = noticeMs,
                                             .newClient = m_clients.factory()});
        m_events.clear();
        auto note = [this](const QString& event) { m_events << event; };
        auto on = [&](auto signal, auto react) { connect(t.get(), signal, this, react); };
        on(&TunnelInstance::becameActive, [=](auto& url) { note(url); });
        on(&TunnelInstance::outageContinues, [=] { note("outage"); });
        on(&TunnelInstance::failedToStart, [=](auto& reason) { note("failed: " + reason); });
        on(&TunnelInstance::endedUnexpectedly, [=](int status, auto& reason) {
            note("ended " + QString::number(status) + ": " + reason);
        });
        on(&TunnelInstance::stoppedAtLimit,
           [=](auto limit) { note("limit " + QString::number(limit.count())); });
        return t;
    }
    void print(const QByteArray& text) { m_clients.latest()->print(text); }

private slots:
    void init() { m_clients = {}; }

    void clientDecides_data() {
        QTest::addColumn<Run>("run");
        const QString offline = "No internet connection: the tunnel service cannot be reached";
        const QString nothing = "Nothing answers on port %1";
        const QByteArray up = urlBox + at(registered);
        auto row = [](const char* name, const Run& run) { QTest::newRow(name) << run; };
        row("registered, server on ::1 only", {up, -1, State::Active, {}, {url}, 6});
        row("no internet", {apiFailure, 1, State::Connecting, offline, {"ended 1: " + offline}});
        row("nothing listens", {up, -1, State::Active, nothing, {url}, 0});
        row("URL printed after Stop", {{}, -1, State::Connecting, {}, {}, 4, up});
        // Any status after Stop, our own kill after the grace period too, is no crash.
        row("non-zero exit after Stop", {up, -1, State::Active, {}, {url}, 4, {}, 1});
        row("exit 0", {up, 0, State::Active, {}, {url}});
        row("exit 15", {up, 15, State::Active, {}, {url}});
        const QString panic = "panic: odd";
        row("exit 3, its last line",
            {up + bare("panic: odd"), 3, State::Active, panic, {url, "ended 3: " + panic}});
        row("stopped at a 1-second limit",
            {up, -1, State::Active, {}, {url, "limit 1"}, 4, {}, 15, 1});
        row("short outage", {up, -1, State::Active, {}, {url}, 4, {}, 15, 0, 1});
        row("long outage", {up, -1, State::Active, {}, {url, "outage"}, 4, {}, 15, 0, 2});
    }
    void clientDecides() {
        QFETCH(Run, run);
        Origin origin(run.listen);
        run.problem.replace(QStringLiteral("%1"), QString::number(origin.port));
        m_clients.prepare = [](ScriptedClient& c) { c.ignoreStop = true; };
        auto t = tunnel(origin.port);
        t->start();
        ScriptedClient* client = m_clients.latest();
        t->start(); // already running: nothing happens
        QCOMPARE(m_clients.count(), 1);
        print(run.output);
        QCOMPARE(t->state(), run.state);
        QCOMPARE(t->tunnelURLText(), run.output.contains(url.toUtf8()) ? url : QString());
        if (run.outage) {
            QSignalSpy outage(t.get(), &TunnelInstance::outageContinues);
            print(lost2026);
            QCOMPARE(t->state(), State::Reconnecting); // the URL kept: tst_statusmenu's row
            QVERIFY(run.outage == 1 || outage.wait(5000));
            print(at(registered));
            QCOMPARE(t->state(), State::Active);
            QVERIFY(run.outage == 2 || !outage.wait(2 * noticeMs));
        }
        if (run.limit) {
            t->setStopAfter(std::chrono::seconds(run.limit));
            QVERIFY(t->stopsAt().isValid());
            QSignalSpy limit(t.get(), &TunnelInstance::stoppedAtLimit);
            QVERIFY(limit.wait(run.limit * 1000 + 2000));
            QCOMPARE(client->stopsAsked, 1);
        }
        if (run.exit < 0) // an exit may name it only then
            QTRY_COMPARE(t->problem(), run.problem);
        QSignalSpy gone(t.get(), &TunnelInstance::childGone);
        if (run.exit >= 0) {
            client->exit(run.exit);
        } else {
            if (!run.limit)
                t->stop();
            QVERIFY(!t->tunnelURL() && t->state() == State::Stopping);
            client->print(run.onStop);
            QVERIFY(!t->tunnelURL() && t->state() == State::Stopping);
            client->exit(run.stopStatus);
        }
        QCOMPARE(gone.size(), 1);
        QCOMPARE(t->state(), State::Stopped);
        QVERIFY(!t->tunnelURL() && t->stopsAt().isNull() && !t->hasChild());
        QCOMPARE(t->problem(), run.problem); // kept after the end, until the next start
        QVERIFY(run.problem.isEmpty() || !t->problemDetail().isEmpty());
        QCOMPARE(m_events, run.events);
        t->start();
        QCOMPARE(t->problem(), QString());
    }

    // A tunnel on a hostname whose named tunnel is set up runs at once on its credentials, at
    // https://HOST; losing one connection of four is no outage; a switch to quick starts a new
    // child. A switch to a hostname without a sign-in is tst_control's "not signed in".
    void namedTunnelRuns() {
        TempHome home;
        const QUuid remote = QUuid::createUuid();
        auto t = tunnel(3000, remote);
        const QString credentials = AccountFiles::credentialsPath(t->id());
        writeFile(credentials,
                  "{\"TunnelID\": \"" + remote.toByteArray(QUuid::WithoutBraces) + "\"}");
        t->start();
        QCOMPARE(m_clients.latest()->arguments.join(' '),
                 QStringLiteral("tunnel --no-autoupdate --config /dev/null --metrics 127.0.0.1:%4 "
                                "run --credentials-file %1 --url http://127.0.0.1:%2 %3")
                     .arg(credentials, QString::number(t->gateway()->port()),
                          remote.toString(QUuid::WithoutBraces),
                          QString::number(t->metrics()->port())));
        QVERIFY(!t->gateway()->options().quickTunnel);
        print(at(registered, {0, 1, 2, 3}) + lost2026);
        QCOMPARE(t->state(), State::Active);
        QCOMPARE(t->tunnelURLText(), QStringLiteral("https://dev.example.com"));
        t->setHostname(QString());
        QTRY_COMPARE(m_clients.count(), 2);
        QVERIFY(!m_clients.latest()->arguments.contains("run") && t->tunnelURLText().isEmpty());
    }

    // A live port change: the gateway turns, the child and URL stay, and what is said about the
    // server names the new port (it named the port of the launch). The gateway's word on the
    // edge reaches the row (a tunnel on the user's own domain streams events: its gateway is
    // told so in namedTunnelRuns, and says nothing then in tst_gateway); a client line after the
    // change names the new port too in problemsByRank (rows P).
    void portChangeNamesTheNewPort() {
        Origin first(4), second(4);
        QTcpServer* server = &second.server;
        connect(server, &QTcpServer::newConnection, this, [server] {
            server->nextPendingConnection()->write(
                "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nContent-Length: "
                "2\r\n\r\nok");
        });
        auto t = tunnel(first.port);
        t->start();
        print(urlBox + at(registered) + originPair("EOF"));
        const QString hungUp = "The server on port %1 closes connections without answering";
        QCOMPARE(t->problem(), hungUp.arg(first.port));
        t->updatePort(second.port);
        QVERIFY(t->gateway()->options().port == second.port && t->gateway()->options().quickTunnel);
        QCOMPARE(t->problem(), QString()); // about the old server
        QTcpSocket visitor;
        visitor.connectToHost(QHostAddress::LocalHost, t->gateway()->port());
        visitor.write("GET /events HTTP/1.1\r\nHost: a\r\n\r\n");
        QTRY_COMPARE(t->problem(), eventStreamLine.arg(second.port));
        QCOMPARE(m_clients.count(), 1);
        QCOMPARE(t->tunnelURLText(), url);
    }

    // Which source shows when several report, each text naming the current port.
    void problemsByRank_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        const QMap<QChar, QString> texts = {
            {'-', {}},
            {'e',
             "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked"},
            {'n', "Nothing answers on port %1"},
            {'v', RefusalText::problem(HostCheck::Vite, true)},
            {'t', "The server on port %1 accepts connections but does not answer"},
            {'l', "Port %1 is outside 1 to 65535; enter another to start"},
            {'w', "GET /slow waited over 100 s for its first byte; the visitor got error 524"},
            {'f', "200 requests are in flight at once, a quick tunnel's limit; more get error 429"},
            {'s', eventStreamLine}};
        // "steps:shown". Steps: E edge time-out, R registered, O requests refused, T requests
        // time out (client); G a request found nothing, g one was answered, H Vite refused, h no
        // more (gateway); P the port changes, L the port was out of range at launch, C a new
        // launch; the edge: S streams events, W a slow request and events, F 200 in flight, Q
        // quiet again. Shown: a key of texts.
        for (const QString& row : QStringLiteral("GE:e GER:n GH:v HG:v HE:e HER:v Hh:- Gg:- Og:n "
                                                 "OHP:- TP:- EP:e PT:t TG:t LP:- L:l EHGC:- S:s "
                                                 "SW:w F:f SQ:- SGH:v SE:e SC:-")
                                      .split(' '))
            QTest::newRow(qPrintable(row)) << row.section(':', 0, 0) << texts[row.back()];
    }
    void problemsByRank() {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        TunnelConfig config = TunnelConfig::create(QStringLiteral("T"), 3000);
        ClientLogClassifier client;
        ProblemBoard board(config, client);
        auto feed = [&](const QByteArray& lines) {
            client.feed(lines);
            board.readClient();
        };
        const QMap<QChar, std::function<void()>> act{
            {'E', [&] { feed(quicTimeout2023); }},
            {'R', [&] { feed(at(registered)); }},
            {'O', [&] { feed(originPair("connect: connection refused")); }},
            {'T', [&] { feed(originPair("i/o timeout")); }},
            {'G', [&] { board.gatewayReached(false); }},
            {'g', [&] { board.gatewayReached(true); }},
            {'H', [&] { board.gatewayRefused(HostCheck::Vite); }},
            {'h', [&] { board.gatewayRefused(HostCheck::None); }},
            {'P', [&] { config.port = 4000, board.portChanged(); }},
            {'L', [&] { board.launchFailed(ProblemBoard::LaunchCheck::PortOutOfRange); }},
            {'C', [&] { board.clear(); }},
            {'S', [&] { board.gatewaySawEdge(true, "", false); }},
            {'W', [&] { board.gatewaySawEdge(true, "GET /slow", false); }},
            {'F', [&] { board.gatewaySawEdge(false, "", true); }},
            {'Q', [&] { board.gatewaySawEdge(false, "", false); }}};
        for (const QChar step : steps)
            act[step]();
        QCOMPARE(board.text(), QString(shown).replace("%1", QString::number(config.port)));
    }

    // The switch keeps the child; a new password at every start and at every switch-on, the
    // gateway's guard in step, none while stopping. gateway.py tries it through the gateway.
    void passwordFollowsTheSwitch() {
        auto t = tunnel();
        QSignalSpy saves(t.get(), &TunnelInstance::configChanged);
        const std::shared_ptr<BasicAuthGuard> guard = t->accessGuard();
        auto status = [&](const QString& password) {
            const QByteArray pair = "quillby:" + password.toUtf8();
            return guard->check("Basic " + pair.toBase64().toStdString(), "v").status();
        };
        t->setRequirePassword(true);
        QVERIFY(t->password().isEmpty());
        t->start();
        print(urlBox + at(registered));
        const QString first = t->password();
        QCOMPARE(status(first), 200u);
        QCOMPARE(TrayToolTip::text({t.get()}), "Quillby\nT: " + url + " (password)");
        t->setRequirePassword(false);
        QVERIFY(t->password().isEmpty() && guard->check("", "v").status() == 200u);
        t->setRequirePassword(true);
        QCOMPARE(status(first), 401u); // a new one, which passes
        QCOMPARE(status(t->password()), 200u);
        QVERIFY(!QJsonDocument(t->config().toJson()).toJson().contains(first.toUtf8()));
        QCOMPARE(m_clients.count(), 1);
        QCOMPARE(saves.size(), 3); // one for each switch

        const QString second = t->password();
        m_clients.latest()->ignoreStop = true;
        t->stop();
        QVERIFY(t->password().isEmpty());
        QCOMPARE(status(second), 401u); // nobody passes while the child stops
        m_clients.latest()->exit(15);
        t->start();
        QVERIFY(!t->password().isEmpty() && t->password() != second);
    }

    // The launch's error is told as failedToStart; a port out of range is never launched.
    void launchRefused() {
        const QString outside = "Port 70000 is outside 1 to 65535; enter another to start";
        for (auto [port, failure] : {std::pair<qint64, QString>{3000, "Permission denied"},
                                     std::pair<qint64, QString>{70000, {}}}) {
            m_clients.prepare = [f = failure](ScriptedClient& c) { c.launchFailure = f; };
            auto t = tunnel(port);
            t->start();
            QVERIFY(!t->isRunning() && !t->hasChild() && !t->gateway()->isListening());
            QCOMPARE(t->problem(), failure.isEmpty() ? outside : QString());
            QCOMPARE(m_events,
                     failure.isEmpty() ? QStringList() : QStringList{"failed: " + failure});
        }
    }
};

QTEST_GUILESS_MAIN(TestTunnelInstance)
#include "tst_tunnelinstance.moc"
