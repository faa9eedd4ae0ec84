// A tunnel's life with real child processes (the stand-in client) and a real notification
// daemon on a session bus of the test's own.
#include "TestSupport.h"
#include "app/TrayToolTip.h"
#include "app/TunnelNotifications.h"
#include "model/TunnelInstance.h"
#include "platform/FreedesktopNotifier.h"
#include "proxy/BasicAuthGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>

using namespace TestSupport;

namespace {

const QString fakeUrl = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");
constexpr int slow = 15000; // generous: process start-up on a loaded machine

const char* const fakeVariables[] = {
    "FAKE_CF_MODE",        "FAKE_CF_IGNORE_TERM", "FAKE_CF_EXIT_STATUS", "FAKE_CF_STDOUT_MIB",
    "FAKE_CF_LABEL",       "FAKE_CF_FLOOD_MIB",   "FAKE_CF_PAUSE_MS",    "FAKE_CF_ON_TERM",
    "FAKE_CF_INTERVAL_MS", "FAKE_CF_OUTAGE_MS"};

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

} // namespace

class TestTunnelInstance : public QObject {
    Q_OBJECT

    FreedesktopNotifier m_notifier;
    TunnelNotifications m_notes{&m_notifier};
    QList<ShownNotification> m_seen;

    TunnelInstance::Services services(ClientLocator locator = fakeClientLocator(),
                                      int outageNoticeMs = 30000) {
        return {std::move(locator), outageNoticeMs};
    }

    QStringList bodies(int atLeast, int waitMs = 5000) {
        QStringList result;
        for (const auto& n : notifications(atLeast, waitMs))
            result << n.summary + QLatin1Char('/') + n.body;
        return result;
    }

    // Everything the daemon has shown since the last call.
    QList<ShownNotification> notifications(int atLeast, int waitMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        do {
            m_seen += takeNotifications();
            if (m_seen.size() >= atLeast)
                break;
            QTest::qWait(50);
        } while (timer.elapsed() < waitMs);
        return std::exchange(m_seen, {});
    }

    static void waitStopped(TunnelInstance& tunnel) {
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isRunning(), slow);
    }

private slots:
    void initTestCase() {
        QVERIFY2(notificationDaemonRunning(),
                 "run inside scripts/desktop-session.sh --notifications");
        QTRY_VERIFY(TestSupport::notificationDaemonRunning());
    }

    void init() {
        for (const char* name : fakeVariables)
            qunsetenv(name);
        takeNotifications();
        m_seen.clear();
    }

    void startWithoutLaunching_data() {
        QTest::addColumn<bool>("clientFound");
        QTest::addColumn<qint64>("port");
        QTest::addColumn<QString>("problem");
        QTest::newRow("client missing: silent") << false << qint64(3000) << QString();
        QTest::newRow("port 70000 from a saved list")
            << true << qint64(70000)
            << QStringLiteral("Port 70000 is outside 1 to 65535; enter another to start");
    }

    void startWithoutLaunching() {
        QFETCH(bool, clientFound);
        QFETCH(qint64, port);
        QFETCH(QString, problem);
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Web"), port),
                              services(clientFound ? fakeClientLocator() : missingClientLocator()));
        m_notes.watch(&tunnel);
        tunnel.start();
        QVERIFY(!tunnel.isRunning() && !tunnel.hasChild());
        QCOMPARE(tunnel.problem(), problem);
        QCOMPARE(notifications(1, 500).size(), 0);
    }

    // What the client prints decides the state, the problem and the notifications.
    void clientLinesTellTheTruth_data() {
        QTest::addColumn<QByteArrayList>("env");
        QTest::addColumn<int>("listen");      // see Origin
        QTest::addColumn<bool>("exits");      // the client ends by itself; else we stop it
        QTest::addColumn<bool>("active");     // registered: Active posted, no longer connecting
        QTest::addColumn<QString>("problem"); // %1: the port
        QTest::addColumn<int>("crash");       // the status of a crash notice, with the problem
        QTest::addColumn<int>("limit");       // Stop After, in seconds, set once active
        auto row = [](const char* name, QByteArrayList env, int listen, bool exits, bool active,
                      const char* problem = "", int crash = 0, int limit = 0) {
            QTest::newRow(name) << env << listen << exits << active << QString::fromUtf8(problem)
                                << crash << limit;
        };
        const char* limited =
            "The tunnel service is limiting new tunnels; try again in a few minutes";
        row("registered, server on ::1 only", {}, 6, false, true);
        row("never registers", {"FAKE_CF_MODE=edge-timeout", "FAKE_CF_INTERVAL_MS=50"}, 4, false,
            false,
            "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked");
        row("edge lookup fails", {"FAKE_CF_MODE=edge-dns"}, 4, true, false,
            "The tunnel network cannot be looked up (DNS)", 1);
        row("no internet", {"FAKE_CF_MODE=api-failure"}, 4, true, false,
            "No internet connection: the tunnel service cannot be reached", 1);
        row("429", {"FAKE_CF_MODE=rate-limited"}, 4, true, false, limited, 1);
        row("500", {"FAKE_CF_MODE=service-failed"}, 4, true, false,
            "The tunnel service failed (HTTP 500 Internal Server Error)", 1);
        row("nothing listens, requests refused",
            {"FAKE_CF_MODE=origin-refused", "FAKE_CF_INTERVAL_MS=50"}, 0, false, true,
            "Nothing answers on port %1");
        row("URL printed after Stop", {"FAKE_CF_MODE=no-url", "FAKE_CF_ON_TERM=url"}, 4, false,
            false);
        row("non-zero exit after Stop", {"FAKE_CF_ON_TERM=fail"}, 4, false, true);
        row("exit 0", {"FAKE_CF_MODE=exit"}, 4, true, true);
        row("exit 15", {"FAKE_CF_MODE=exit", "FAKE_CF_EXIT_STATUS=15"}, 4, true, true);
        row("exit 3", {"FAKE_CF_MODE=exit", "FAKE_CF_EXIT_STATUS=3"}, 4, true, true, "", 3);
        row("64 MiB on standard output", {"FAKE_CF_STDOUT_MIB=64"}, 4, false, true);
        row("stopped at a 2-second limit", {}, 4, true, true, "", 0, 2);
    }

    void clientLinesTellTheTruth() {
        QFETCH(QByteArrayList, env);
        QFETCH(int, listen);
        QFETCH(bool, exits);
        QFETCH(bool, active);
        QFETCH(QString, problem);
        QFETCH(int, crash);
        QFETCH(int, limit);
        for (const QByteArray& pair : env)
            qputenv(pair.left(pair.indexOf('=')), pair.mid(pair.indexOf('=') + 1));
        Origin origin(listen);
        problem.replace(QStringLiteral("%1"), QString::number(origin.port));
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), origin.port), services());
        m_notes.watch(&tunnel);
        bool sawUrl = false;
        connect(&tunnel, &TunnelInstance::changed, this,
                [&] { sawUrl = sawUrl || tunnel.tunnelURL().has_value(); });
        tunnel.start();
        if (limit) {
            QTRY_VERIFY_WITH_TIMEOUT((tunnel.state() == TunnelInstance::State::Active), slow);
            tunnel.setStopAfter(std::chrono::seconds(limit));
        }
        const bool printsUrl = env.value(0) != "FAKE_CF_MODE=no-url";
        if (exits) {
            waitStopped(tunnel);
        } else {
            const qint64 pid = tunnel.childPid();
            // Always the gateway, wherever the server listens.
            QTRY_COMPARE(processCommandLine(pid),
                         fakeClientPath() + QStringLiteral(" tunnel --no-autoupdate --config "
                                                           "/dev/null --url http://127.0.0.1:%1")
                                                .arg(tunnel.inspector()->port()));
            tunnel.start(); // already running: nothing happens
            QCOMPARE(tunnel.childPid(), pid);
            QTRY_COMPARE_WITH_TIMEOUT(tunnel.problem(), problem, slow);
            QTRY_COMPARE_WITH_TIMEOUT(tunnel.state() != TunnelInstance::State::Connecting, active,
                                      slow);
            QTest::qWait(300); // what must not happen has had time to happen
            QCOMPARE((tunnel.state() == TunnelInstance::State::Connecting), !active);
            QCOMPARE(tunnel.tunnelURLText(), printsUrl ? fakeUrl : QString()); // even connecting
            tunnel.stop();
            QVERIFY(!tunnel.tunnelURL() && tunnel.isRunning()); // until the exit is handled
            waitStopped(tunnel);
            QVERIFY(tunnel.state() != TunnelInstance::State::Connecting && !processAlive(pid));
        }
        QVERIFY(!tunnel.tunnelURL());
        QCOMPARE(tunnel.problem(), problem); // kept after the end, until the next start
        QVERIFY(tunnel.problem().isEmpty() || !tunnel.problemDetail().isEmpty());
        if (!printsUrl)
            QVERIFY(!sawUrl);
        QStringList shown;
        if (active)
            shown << QStringLiteral("'T' Active/") + fakeUrl;
        if (crash)
            shown << QStringLiteral("'T' Stopped/Tunnel crashed (exit code: %1)").arg(crash) +
                         (problem.isEmpty() ? QString() : QLatin1Char('\n') + problem);
        if (limit)
            shown << QStringLiteral("'T' Stopped/Shared for %1 seconds, as asked").arg(limit);
        QVERIFY(tunnel.stopsAt().isNull());
        QCOMPARE(bodies(shown.size() + 1, shown.isEmpty() ? 1000 : 3000), shown);
    }

    void outageIsNotifiedOnlyWhenLong_data() {
        QTest::addColumn<QByteArray>("outageMs");
        QTest::addColumn<bool>("notified");
        QTest::newRow("short outage") << QByteArray("300") << false;
        QTest::newRow("long outage") << QByteArray("1500") << true;
    }

    void outageIsNotifiedOnlyWhenLong() {
        QFETCH(QByteArray, outageMs);
        QFETCH(bool, notified);
        qputenv("FAKE_CF_MODE", "lost");
        qputenv("FAKE_CF_INTERVAL_MS", "300");
        qputenv("FAKE_CF_OUTAGE_MS", outageMs);
        Origin origin(4);
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), origin.port),
                              services(fakeClientLocator(), 800));
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT((tunnel.state() == TunnelInstance::State::Reconnecting), slow);
        QVERIFY(tunnel.isRunning() && tunnel.state() != TunnelInstance::State::Connecting &&
                tunnel.tunnelURL());
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.state() != TunnelInstance::State::Reconnecting, slow);
        QStringList expected{QStringLiteral("'T' Active/") + fakeUrl};
        if (notified)
            expected << QStringLiteral(
                "'T' Reconnecting/Lost its connection to the tunnel network; still trying");
        tunnel.stop();
        waitStopped(tunnel);
        QCOMPARE(bodies(expected.size() + 1, 1000), expected);
    }

    // The password switch while running keeps the child and its URL; a new password at every
    // start and at every switch-on, the gateway's guard in step, none while stopping.
    void passwordSwitchKeepsTheChild() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Web"), 3000), services());
        QSignalSpy saves(&tunnel, &TunnelInstance::configChanged);
        const std::shared_ptr<BasicAuthGuard> guard = tunnel.accessGuard();
        auto status = [&](const QString& password) {
            const QByteArray pair = "quillby:" + password.toUtf8();
            return guard->check("Basic " + pair.toBase64().toStdString(), "v").status();
        };
        tunnel.setRequirePassword(true);
        QVERIFY(tunnel.password().isEmpty());
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT((tunnel.state() == TunnelInstance::State::Active), slow);
        const QString first = tunnel.password();
        const qint64 pid = tunnel.childPid();
        QCOMPARE(status(first), 200u);
        QCOMPARE(TrayToolTip::text({&tunnel}), "Quillby\nWeb: " + fakeUrl + " (password)");
        tunnel.setName(QStringLiteral("Shop \"x\""));
        QCOMPARE(guard->check("", "v").headers.at(0).second,
                 std::string("Basic realm=\"Shop \\\"x\\\"\", charset=\"UTF-8\""));

        tunnel.setRequirePassword(false);
        QVERIFY(tunnel.password().isEmpty());
        QCOMPARE(guard->check("", "v").status(), 200u);
        tunnel.setRequirePassword(true);
        QVERIFY(!tunnel.password().isEmpty() && tunnel.password() != first);
        QCOMPARE(status(first), 401u);
        QCOMPARE(status(tunnel.password()), 200u);
        QCOMPARE(tunnel.childPid(), pid);
        QCOMPARE(tunnel.tunnelURLText(), fakeUrl);
        QCOMPARE(saves.size(), 4); // three switches and the name
        QVERIFY(!QJsonDocument(tunnel.config().toJson()).toJson().contains(first.toUtf8()));

        const QString second = tunnel.password();
        tunnel.stop();
        QVERIFY(tunnel.password().isEmpty());
        QCOMPARE(status(second), 401u); // nobody passes while the child stops
        waitStopped(tunnel);
        tunnel.start();
        QVERIFY(!tunnel.password().isEmpty() && tunnel.password() != second);
        tunnel.stop();
        waitStopped(tunnel);
    }

    void childKilledFromOutsideReportsTheSignal() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Old name"), 3000), services());
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        // The name at the time of the event is the one shown.
        tunnel.setName(QStringLiteral("New <b>name</b>"));
        ::kill(static_cast<pid_t>(tunnel.childPid()), SIGKILL);
        waitStopped(tunnel);
        const auto shown = notifications(2);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].summary, QStringLiteral("'New <b>name</b>' Stopped"));
        QCOMPARE(shown[1].body, QStringLiteral("Tunnel crashed (exit code: 9)"));
    }

    void childIgnoringTerminateIsKilledAfterTheGracePeriod() {
        qputenv("FAKE_CF_IGNORE_TERM", "1");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Stubborn"), 3000), services());
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        const qint64 pid = tunnel.childPid();
        QElapsedTimer elapsed;
        elapsed.start();
        tunnel.stop();
        waitStopped(tunnel);
        QVERIFY(elapsed.elapsed() >= TunnelInstance::killGraceMs);
        QVERIFY(!processAlive(pid));
        // Our own kill after a stop request is no crash: only the Active notice was shown.
        QCOMPARE(notifications(2, 1000).size(), 1);
    }

    // The gateway turns to the new port: one launch of the child, the same URL.
    void portChangeKeepsTheChildAndItsURL() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Moving"), 3000), services());
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        const qint64 pid = tunnel.childPid();
        const QString url = *tunnel.tunnelURL();
        tunnel.updatePort(4000);
        tunnel.setInspect(true);
        tunnel.setRewriteHost(false);
        QCOMPARE(tunnel.config().port, qint64(4000));
        QTest::qWait(300); // what must not happen has had time to happen
        QCOMPARE(tunnel.childPid(), pid);
        QCOMPARE(tunnel.tunnelURL(), std::optional<QString>(url));
        QCOMPARE(tunnel.state(), TunnelInstance::State::Active);
        tunnel.stop();
        waitStopped(tunnel);
    }

    void launchFailureIsReportedAndCanBeRetried() {
        QTemporaryDir dir;
        const QString client = dir.filePath(QStringLiteral("cloudflared"));
        QFile file(client);
        QVERIFY(file.open(QIODevice::WriteOnly)); // not executable: exec fails
        file.close();
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Broken"), 3000),
                              services([client] { return std::optional<QString>(client); }));
        m_notes.watch(&tunnel);
        tunnel.start();
        QVERIFY(!tunnel.isRunning() && tunnel.state() != TunnelInstance::State::Connecting &&
                !tunnel.hasChild());
        const auto shown = notifications(1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("'Broken' Error"));
        QVERIFY(shown[0].body.startsWith(QStringLiteral("Failed to start: ")));

        QFile::remove(client);
        QVERIFY(QFile::copy(fakeClientPath(), client));
        tunnel.start();
        QVERIFY(tunnel.isRunning());
        tunnel.stop();
        waitStopped(tunnel);
    }

    void markupInTheBodyIsShownAsTyped() {
        FreedesktopNotifier notifier;
        QTRY_VERIFY(TestSupport::notificationDaemonRunning());
        QTest::qWait(200); // let the capabilities arrive
        notifier.notify(QStringLiteral("'<i>x</i> & y' Active"), QStringLiteral("a <b>b</b> & c"));
        const auto shown = notifications(1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("'<i>x</i> & y' Active"));
        QCOMPARE(shown[0].shownBody, QStringLiteral("a <b>b</b> & c"));
    }

    void releasingARunningInstanceEndsItsChildSilently() {
        qint64 pid = 0;
        {
            TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Gone"), 3000), services());
            m_notes.watch(&tunnel);
            tunnel.start();
            QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
            pid = tunnel.childPid();
            notifications(1);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), slow);
        QCOMPARE(notifications(1, 500).size(), 0);
    }

    void childrenDoNotOutliveAKilledApplication() {
        // A separate process owns a running tunnel and is then killed outright.
        QProcess owner;
        owner.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--own-a-tunnel")});
        QVERIFY(owner.waitForReadyRead(slow));
        const qint64 childPid = owner.readLine().trimmed().toLongLong();
        QVERIFY(processAlive(childPid));
        ::kill(static_cast<pid_t>(owner.processId()), SIGKILL);
        QVERIFY(owner.waitForFinished(slow));
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(childPid), 2000);
    }
};

// `--own-a-tunnel`: start one tunnel, print its child's pid, run until killed.
static int ownATunnel(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Owned"), 3000),
                          {fakeClientLocator()});
    tunnel.start();
    std::printf("%lld\n", static_cast<long long>(tunnel.childPid()));
    std::fflush(stdout);
    return app.exec();
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--own-a-tunnel") == 0)
        return ownATunnel(argc, argv);
    QCoreApplication app(argc, argv);
    TestTunnelInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tunnelinstance.moc"
