// A tunnel's life with real child processes (the stand-in client) and a real notification
// daemon on a session bus of the test's own.
#include "TestSupport.h"
#include "app/TunnelNotifications.h"
#include "model/TunnelInstance.h"
#include "platform/FreedesktopNotifier.h"
#include "proxy/BasicAuthGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
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
    "FAKE_CF_MODE",    "FAKE_CF_IGNORE_TERM", "FAKE_CF_EXIT_STATUS", "FAKE_CF_STDOUT_MIB",
    "FAKE_CF_ON_TERM", "FAKE_CF_INTERVAL_MS", "FAKE_CF_OUTAGE_MS"};

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

// How a child's life ends in the test.
enum End { ByItself, Stop, Kill, Release, Limit, Outage };

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

    // A child's life, start to end: the state, the command line and the notifications. Which
    // client line means which problem is the classifier's table (tst_clientlog).
    void childLife_data() {
        QTest::addColumn<QByteArrayList>("env");
        QTest::addColumn<int>("listen"); // see Origin
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("active");       // registered: no longer connecting
        QTest::addColumn<QStringList>("shown"); // the notifications, "%u" the URL
        const QString active = QStringLiteral("'T' Active/%u");
        auto row = [](const char* name, QByteArrayList env, int listen, End end, bool active,
                      QStringList shown) {
            QTest::newRow(name) << env << listen << int(end) << active << shown;
        };
        row("registered, server on ::1 only", {}, 6, Stop, true, {active});
        row("URL printed after Stop", {"FAKE_CF_MODE=no-url", "FAKE_CF_ON_TERM=url"}, 4, Stop,
            false, {});
        row("non-zero exit after Stop", {"FAKE_CF_ON_TERM=fail"}, 4, Stop, true, {active});
        row("ignores SIGTERM: killed after the grace period", {"FAKE_CF_IGNORE_TERM=1"}, 4, Stop,
            true, {active});
        row("64 MiB on standard output", {"FAKE_CF_STDOUT_MIB=64"}, 4, Stop, true, {active});
        row("exit 0", {"FAKE_CF_MODE=exit"}, 4, ByItself, true, {active});
        row("exit 15", {"FAKE_CF_MODE=exit", "FAKE_CF_EXIT_STATUS=15"}, 4, ByItself, true,
            {active});
        row("exit 3", {"FAKE_CF_MODE=exit", "FAKE_CF_EXIT_STATUS=3"}, 4, ByItself, true,
            {active, "'T' Stopped/Tunnel crashed (exit code: 3)"});
        // The name at the time of the event is the one shown.
        row("killed from outside", {}, 4, Kill, true,
            {active, "'New <b>name</b>' Stopped/Tunnel crashed (exit code: 9)"});
        row("instance released: silent", {}, 4, Release, true, {active});
        row("stopped at a 2-second limit", {}, 4, Limit, true,
            {active, "'T' Stopped/Shared for 2 seconds, as asked"});
        row("short outage", {"FAKE_CF_MODE=lost", "FAKE_CF_OUTAGE_MS=300"}, 4, Outage, true,
            {active});
        row("long outage", {"FAKE_CF_MODE=lost", "FAKE_CF_OUTAGE_MS=1500"}, 4, Outage, true,
            {active, "'T' Reconnecting/Lost its connection to the tunnel network; still trying"});
    }

    void childLife() {
        QFETCH(QByteArrayList, env);
        QFETCH(int, listen);
        QFETCH(int, end);
        QFETCH(bool, active);
        QFETCH(QStringList, shown);
        for (const QByteArray& pair : env)
            qputenv(pair.left(pair.indexOf('=')), pair.mid(pair.indexOf('=') + 1));
        qputenv("FAKE_CF_INTERVAL_MS", "300"); // mode lost: the outage starts after it
        Origin origin(listen);
        auto tunnel =
            std::make_unique<TunnelInstance>(TunnelConfig::create(QStringLiteral("T"), origin.port),
                                             services(fakeClientLocator(), 800));
        m_notes.watch(tunnel.get());
        bool sawUrl = false;
        connect(tunnel.get(), &TunnelInstance::changed, this,
                [&] { sawUrl = sawUrl || tunnel->tunnelURL().has_value(); });
        tunnel->start();
        const qint64 pid = tunnel->childPid();
        const bool printsUrl = env.value(0) != "FAKE_CF_MODE=no-url";
        if (end != ByItself) {
            const QString host =
                listen == 6 ? QStringLiteral("[::1]") : QStringLiteral("127.0.0.1");
            QTRY_COMPARE(processCommandLine(pid),
                         fakeClientPath() + QStringLiteral(" tunnel --no-autoupdate --config "
                                                           "/dev/null --url http://%1:%2")
                                                .arg(host)
                                                .arg(origin.port));
            tunnel->start(); // already running: nothing happens
            QCOMPARE(tunnel->childPid(), pid);
            QTRY_COMPARE_WITH_TIMEOUT(tunnel->state() != TunnelInstance::State::Connecting, active,
                                      slow);
            QCOMPARE(tunnel->tunnelURLText(), printsUrl ? fakeUrl : QString()); // even connecting
        }
        QElapsedTimer stopping;
        stopping.start();
        switch (end) {
        case Stop:
            tunnel->stop();
            QVERIFY(!tunnel->tunnelURL() && tunnel->isRunning()); // until the exit is handled
            break;
        case Kill:
            tunnel->setName(QStringLiteral("New <b>name</b>"));
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            break;
        case Release:
            tunnel.reset();
            break;
        case Limit:
            tunnel->setStopAfter(std::chrono::seconds(2));
            break;
        case Outage:
            QTRY_VERIFY_WITH_TIMEOUT((tunnel->state() == TunnelInstance::State::Reconnecting),
                                     slow);
            QVERIFY(tunnel->isRunning() && tunnel->tunnelURL());
            QTRY_VERIFY_WITH_TIMEOUT(tunnel->state() != TunnelInstance::State::Reconnecting, slow);
            tunnel->stop();
            break;
        }
        if (tunnel) {
            QTRY_VERIFY_WITH_TIMEOUT(!tunnel->isRunning(), TunnelInstance::killGraceMs + slow);
            QVERIFY(tunnel->state() != TunnelInstance::State::Connecting);
            QVERIFY(!tunnel->tunnelURL() && tunnel->problem().isEmpty() &&
                    tunnel->stopsAt().isNull());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), slow);
        if (env.contains("FAKE_CF_IGNORE_TERM=1"))
            QVERIFY(stopping.elapsed() >= TunnelInstance::killGraceMs);
        QVERIFY(printsUrl || !sawUrl);
        shown.replaceInStrings(QStringLiteral("%u"), fakeUrl);
        QCOMPARE(bodies(shown.size() + 1, 1000), shown);
    }

    // A new password at every start and every switch-on, the gateway's guard in step, none
    // while stopping. (The switch keeping the child: tst_statusmenu's sharingChoices.)
    void passwordIsNewAtEveryStartAndSwitch() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Web"), 3000), services());
        const std::shared_ptr<BasicAuthGuard> guard = tunnel.accessGuard();
        auto status = [&](const QString& password) {
            const QByteArray pair = "quillby:" + password.toUtf8();
            return guard->check("Basic " + pair.toBase64().toStdString(), "v").status();
        };
        tunnel.setRequirePassword(true);
        QVERIFY(tunnel.password().isEmpty());
        tunnel.start();
        const QString first = tunnel.password();
        QCOMPARE(status(first), 200u);
        tunnel.setRequirePassword(false);
        QCOMPARE(guard->check("", "v").status(), 200u);
        tunnel.setRequirePassword(true);
        const QString second = tunnel.password();
        QVERIFY(!second.isEmpty() && second != first);
        QCOMPARE(status(first), 401u);
        QVERIFY(!QJsonDocument(tunnel.config().toJson()).toJson().contains(second.toUtf8()));
        tunnel.stop();
        QVERIFY(tunnel.password().isEmpty());
        QCOMPARE(status(second), 401u); // nobody passes while the child stops
        waitStopped(tunnel);
        tunnel.start();
        QVERIFY(!tunnel.password().isEmpty() && tunnel.password() != second);
        tunnel.stop();
        waitStopped(tunnel);
    }

    void portChangeRestartsOnTheNewPort_data() {
        QTest::addColumn<bool>("slowExit");
        QTest::addColumn<bool>("stopInTheDelay");
        QTest::newRow("child exits at once") << false << false;
        QTest::newRow("child takes longer than the restart delay") << true << false;
        QTest::newRow("Stop during the restart delay wins") << false << true;
    }

    void portChangeRestartsOnTheNewPort() {
        QFETCH(bool, slowExit);
        QFETCH(bool, stopInTheDelay);
        if (slowExit)
            qputenv("FAKE_CF_IGNORE_TERM", "1");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Moving"), 3000), services());
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        const qint64 oldPid = tunnel.childPid();
        QElapsedTimer elapsed;
        elapsed.start();
        tunnel.updatePort(4000);
        QCOMPARE(tunnel.config().port, qint64(4000));
        QVERIFY(!tunnel.tunnelURL());
        if (stopInTheDelay) {
            tunnel.stop();
            QTest::qWait(TunnelInstance::restartDelayMs + 500); // no restart comes
            QVERIFY(!tunnel.isRunning() && !tunnel.hasChild());
            return;
        }

        QTRY_VERIFY_WITH_TIMEOUT(tunnel.hasChild() && tunnel.childPid() != oldPid,
                                 TunnelInstance::killGraceMs + slow);
        QVERIFY(elapsed.elapsed() >= TunnelInstance::restartDelayMs - 50);
        QVERIFY(!processAlive(oldPid));
        QVERIFY(tunnel.isRunning());
        QTRY_VERIFY(processCommandLine(tunnel.childPid())
                        .endsWith(QStringLiteral("http://127.0.0.1:4000")));
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        qunsetenv("FAKE_CF_IGNORE_TERM");
        ::kill(static_cast<pid_t>(tunnel.childPid()), SIGKILL);
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
