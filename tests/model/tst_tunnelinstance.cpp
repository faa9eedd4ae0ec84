// A tunnel's life with real child processes (the stand-in client) and a real notification
// daemon on a session bus of the test's own. Which problem each client line means is
// tst_clientlog's; a killed application's children and Quit's wait for stubborn ones are
// tst_faults'. Here: what the instance makes of a running child.
#include "TestSupport.h"
#include "app/TrayToolTip.h"
#include "app/TunnelNotifications.h"
#include "model/TunnelInstance.h"
#include "platform/FreedesktopNotifier.h"
#include "proxy/BasicAuthGuard.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;
using State = TunnelInstance::State;

namespace {

const QString fakeUrl = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");
constexpr int slow = 15000; // generous: process start-up on a loaded machine

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

// How the stand-in client behaves (its FAKE_CF_ variables) and what must come of it.
struct Run {
    QByteArrayList env;
    int listen = 4;       // see Origin
    bool exits;           // the client ends by itself; else we stop it
    bool active;          // registered: Active posted, no longer connecting
    QString problem = {}; // %1: the port
    int crash = 0;        // the status of a crash notice, with the problem
    int limit = 0;        // Stop After, in seconds, set once active
    int outage = 0;       // every connection lost once: 1 shorter than the notice time, 2 longer
};

} // namespace

Q_DECLARE_METATYPE(Run)

class TestTunnelInstance : public QObject {
    Q_OBJECT

    FreedesktopNotifier m_notifier;
    TunnelNotifications m_notes{&m_notifier};

    // "summary/body" of everything the daemon shows within waitMs, or once there are atLeast.
    static QStringList shown(int atLeast, int waitMs = 5000) {
        QList<ShownNotification> seen;
        QElapsedTimer timer;
        for (timer.start(); seen.size() < atLeast && timer.elapsed() < waitMs; QTest::qWait(50))
            seen += takeNotifications();
        QStringList result;
        for (const auto& n : seen)
            result << n.summary + QLatin1Char('/') + n.shownBody;
        return result;
    }

    // A watched tunnel on port, with the stand-in client unless told otherwise.
    std::unique_ptr<TunnelInstance> tunnel(const char* name, qint64 port = 3000,
                                           ClientLocator client = fakeClientLocator()) {
        // Outages are told after 800 ms, so that the test can wait one out.
        auto t = std::make_unique<TunnelInstance>(TunnelConfig::create(name, port),
                                                  TunnelInstance::Services{client, 800});
        m_notes.watch(t.get());
        return t;
    }

    static void stop(TunnelInstance& t) {
        t.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!t.isRunning(), TunnelInstance::killGraceMs + slow);
    }

private slots:
    void initTestCase() {
        QVERIFY2(notificationDaemonRunning(),
                 "run inside scripts/desktop-session.sh --notifications");
    }

    void init() {
        for (const QString& name : QProcessEnvironment::systemEnvironment().keys())
            if (name.startsWith(QLatin1String("FAKE_CF_")))
                qunsetenv(name.toLatin1());
        takeNotifications();
    }

    // A port out of range from a saved list: not started, a problem.
    void portOutOfRange() {
        auto t = tunnel("Web", 70000);
        t->start();
        QVERIFY(!t->hasChild() && !t->isRunning());
        QCOMPARE(t->problem(), QString("Port 70000 is outside 1 to 65535; enter another to start"));
    }

    // What the client prints decides the state, the problem and the notifications.
    void clientLinesTellTheTruth_data() {
        QTest::addColumn<Run>("run");
        auto row = [](const char* name, const Run& run) { QTest::newRow(name) << run; };
        const QByteArray mode = "FAKE_CF_MODE=", often = "FAKE_CF_INTERVAL_MS=50";
        row("registered, server on ::1 only", {{}, 6, false, true});
        const char* unreachable =
            "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked";
        const char* offline = "No internet connection: the tunnel service cannot be reached";
        row("never registers", {{mode + "edge-timeout", often}, 4, false, false, unreachable});
        row("no internet", {{mode + "api-failure"}, 4, true, false, offline, 1});
        row("nothing listens, requests refused",
            {{mode + "origin-refused", often}, 0, false, true, "Nothing answers on port %1"});
        row("URL printed after Stop", {{mode + "no-url", "FAKE_CF_ON_TERM=url"}, 4, false, false});
        row("non-zero exit after Stop", {{"FAKE_CF_ON_TERM=fail"}, 4, false, true});
        // Our own kill after the grace period is no crash.
        row("ignores Stop", {{"FAKE_CF_IGNORE_TERM=1"}, 4, false, true});
        row("exit 0", {{mode + "exit"}, 4, true, true});
        row("exit 15", {{mode + "exit", "FAKE_CF_EXIT_STATUS=15"}, 4, true, true});
        row("exit 3", {{mode + "exit", "FAKE_CF_EXIT_STATUS=3"}, 4, true, true, {}, 3});
        row("64 MiB on standard output", {{"FAKE_CF_STDOUT_MIB=64"}, 4, false, true});
        row("stopped at a 2-second limit", {{}, 4, true, true, {}, 0, 2});
        const QByteArray lost = mode + "lost", every = "FAKE_CF_INTERVAL_MS=300";
        row("short outage", {{lost, every, "FAKE_CF_OUTAGE_MS=300"}, 4, false, true, {}, 0, 0, 1});
        row("long outage", {{lost, every, "FAKE_CF_OUTAGE_MS=1500"}, 4, false, true, {}, 0, 0, 2});
    }
    void clientLinesTellTheTruth() {
        QFETCH(Run, run);
        for (const QByteArray& pair : run.env)
            qputenv(pair.left(pair.indexOf('=')), pair.mid(pair.indexOf('=') + 1));
        Origin origin(run.listen);
        run.problem.replace(QStringLiteral("%1"), QString::number(origin.port));
        auto t = tunnel("T", origin.port);
        bool sawUrl = false;
        connect(t.get(), &TunnelInstance::changed, this, [&] { sawUrl |= bool(t->tunnelURL()); });
        t->start();
        if (run.limit) {
            QTRY_COMPARE_WITH_TIMEOUT(t->state(), State::Active, slow);
            t->setStopAfter(std::chrono::seconds(run.limit));
        }
        const bool printsUrl = run.env.value(0) != "FAKE_CF_MODE=no-url";
        if (run.exits) {
            QTRY_VERIFY_WITH_TIMEOUT(!t->isRunning(), slow);
        } else {
            const qint64 pid = t->childPid();
            // Always the gateway, wherever the server listens.
            QTRY_COMPARE(processCommandLine(pid),
                         fakeClientPath() + QStringLiteral(" tunnel --no-autoupdate --config "
                                                           "/dev/null --url http://127.0.0.1:%1")
                                                .arg(t->inspector()->port()));
            t->start(); // already running: nothing happens
            QCOMPARE(t->childPid(), pid);
            QTRY_COMPARE_WITH_TIMEOUT(t->problem(), run.problem, slow);
            QTRY_COMPARE_WITH_TIMEOUT(t->state() != State::Connecting, run.active, slow);
            if (run.outage) { // reconnecting keeps the URL
                QTRY_COMPARE_WITH_TIMEOUT(t->state(), State::Reconnecting, slow);
                QVERIFY(t->tunnelURL());
                QTRY_COMPARE_WITH_TIMEOUT(t->state(), State::Active, slow);
            }
            QTest::qWait(300); // what must not happen has had time to happen
            QCOMPARE(t->state() == State::Connecting, !run.active);
            QCOMPARE(t->tunnelURLText(), printsUrl ? fakeUrl : QString()); // even connecting
            t->stop();
            QVERIFY(!t->tunnelURL() && t->isRunning()); // until the exit is handled
            stop(*t);
            QVERIFY(!processAlive(pid));
        }
        QVERIFY(!t->tunnelURL() && t->stopsAt().isNull());
        QCOMPARE(t->problem(), run.problem); // kept after the end, until the next start
        QVERIFY(run.problem.isEmpty() || !t->problemDetail().isEmpty());
        QVERIFY(printsUrl || !sawUrl);
        QStringList expected;
        if (run.active)
            expected << QStringLiteral("'T' Active/") + fakeUrl;
        if (run.outage == 2)
            expected << QStringLiteral(
                "'T' Reconnecting/Lost its connection to the tunnel network; still trying");
        if (run.crash)
            expected
                << QStringLiteral("'T' Stopped/Tunnel crashed (exit code: %1)").arg(run.crash) +
                       (run.problem.isEmpty() ? QString() : QLatin1Char('\n') + run.problem);
        if (run.limit)
            expected
                << QStringLiteral("'T' Stopped/Shared for %1 seconds, as asked").arg(run.limit);
        QCOMPARE(shown(expected.size() + 1, expected.isEmpty() ? 1000 : 3000), expected);
    }

    // The switch keeps the child; a new password at every start and at every switch-on, the
    // gateway's guard in step, none while stopping. gateway.py tries it through the gateway.
    void passwordFollowsTheSwitch() {
        auto t = tunnel("Web");
        QSignalSpy saves(t.get(), &TunnelInstance::configChanged);
        const std::shared_ptr<BasicAuthGuard> guard = t->accessGuard();
        auto status = [&](const QString& password) {
            const QByteArray pair = "quillby:" + password.toUtf8();
            return guard->check("Basic " + pair.toBase64().toStdString(), "v").status();
        };
        t->setRequirePassword(true);
        QVERIFY(t->password().isEmpty());
        t->start();
        QTRY_COMPARE_WITH_TIMEOUT(t->state(), State::Active, slow);
        const QString first = t->password();
        const qint64 pid = t->childPid();
        QCOMPARE(status(first), 200u);
        QCOMPARE(TrayToolTip::text({t.get()}), "Quillby\nWeb: " + fakeUrl + " (password)");
        t->setRequirePassword(false);
        QVERIFY(t->password().isEmpty() && guard->check("", "v").status() == 200u);
        t->setRequirePassword(true);
        QVERIFY(!t->password().isEmpty() && t->password() != first);
        QCOMPARE(status(first), 401u);
        QCOMPARE(status(t->password()), 200u);
        QVERIFY(!QJsonDocument(t->config().toJson()).toJson().contains(first.toUtf8()));
        QCOMPARE(t->childPid(), pid);
        QCOMPARE(saves.size(), 3); // one for each switch

        const QString second = t->password();
        t->stop();
        QVERIFY(t->password().isEmpty());
        QCOMPARE(status(second), 401u); // nobody passes while the child stops
        stop(*t);
        t->start();
        QVERIFY(!t->password().isEmpty() && t->password() != second);
        stop(*t);
    }

    void launchFailureIsReported() {
        QTemporaryDir dir;
        const QString client = dir.filePath(QStringLiteral("cloudflared"));
        QFile file(client);
        QVERIFY(file.open(QIODevice::WriteOnly)); // not executable: exec fails
        file.close();
        auto t = tunnel("Broken", 3000, [client] { return std::optional<QString>(client); });
        t->start();
        QVERIFY(!t->isRunning() && !t->hasChild());
        const QStringList notes = shown(1);
        QVERIFY(notes.size() == 1 && notes[0].startsWith("'Broken' Error/Failed to start: "));
    }
};

QTEST_GUILESS_MAIN(TestTunnelInstance)
#include "tst_tunnelinstance.moc"
