// Faults Quillby must survive, on real processes: the application (fault_driver, which
// assembles it as main() does) killed or signalled while tunnels run, children that ignore
// the terminate signal, a kill in the middle of saving, settings it cannot read or write, the
// client removed and put back, and a notification server that is missing or goes away.
// Runs inside scripts/desktop-session.sh --tray --notifications.
#include "TestSupport.h"
#include "model/CloudflaredLocator.h"
#include "model/SettingsKeys.h"
#include "model/TunnelConfig.h"
#include "model/TunnelInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

constexpr int startTimeoutMs = 60000; // generous: sanitizer builds start slowly
constexpr uid_t nobodyId = 65534;

QList<TunnelConfig> makeList(int count, const QString& prefix = QStringLiteral("Tunnel ")) {
    QList<TunnelConfig> list;
    for (int i = 0; i < count; ++i)
        list.append(TunnelConfig::create(prefix + QString::number(i), 20000 + i));
    return list;
}

// What the application reads at start, in a home of its own.
struct AppHome {
    TempHome home;
    QString runtimeDir = home.path() + QStringLiteral("/runtime");

    AppHome() {
        QDir().mkpath(runtimeDir);
        ::chmod(runtimeDir.toLocal8Bit().constData(), 0700);
    }
    QString settingsDir() const { return home.configHome() + QStringLiteral("/Quillby"); }
    QString settingsPath() const { return settingsDir() + QStringLiteral("/Quillby.conf"); }

    void save(const QList<TunnelConfig>& list) const {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue(SettingsKeys::tunnelConfigs, encodeTunnelConfigs(list));
        settings.sync();
        QCOMPARE_EQ(settings.status(), QSettings::NoError);
    }
    std::optional<QList<TunnelConfig>> load() const {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        if (settings.status() != QSettings::NoError)
            return std::nullopt;
        return decodeTunnelConfigs(settings.value(SettingsKeys::tunnelConfigs).toByteArray());
    }
    // Lets the unprivileged user in, for the tests that drop root.
    void openToNobody() const {
        for (const QString& dir : {home.path(), home.configHome(), runtimeDir})
            ::chmod(dir.toLocal8Bit().constData(), 0777);
        [[maybe_unused]] int r = ::chown(runtimeDir.toLocal8Bit().constData(), nobodyId, nobodyId);
        ::chmod(runtimeDir.toLocal8Bit().constData(), 0700);
    }
};

// One run of the application with its output parsed.
class Driver {
public:
    explicit Driver(const AppHome& home, QStringList args = {QStringLiteral("app")},
                    QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
        env.insert(QStringLiteral("PATH"), QFileInfo(fakeClientPath()).absolutePath() +
                                               QLatin1Char(':') +
                                               env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("HOME"), home.home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.home.configHome());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.runtimeDir);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setProgram(QStringLiteral(QUILLBY_FAULT_DRIVER));
        m_process.setArguments(args);
    }
    ~Driver() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Runs it as the unprivileged user when we are root, so permissions bite.
    void dropRoot() {
        if (::geteuid() != 0)
            return;
        QStringList args = {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                            QStringLiteral("--clear-groups"), QStringLiteral("--"),
                            m_process.program()};
        args += m_process.arguments();
        m_process.setProgram(QStringLiteral("setpriv"));
        m_process.setArguments(args);
    }

    // Starts it and reads up to the line `until`.
    bool start(const QByteArray& until = "ready") {
        m_process.start();
        if (!m_process.waitForStarted(startTimeoutMs))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < startTimeoutMs) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("tunnel "))
                    tunnels.append(QString::fromUtf8(line.mid(7)));
                else if (line.startsWith("child "))
                    children.append(line.mid(6).toLongLong());
                if (line == until)
                    return true;
            }
            if (!m_process.waitForReadyRead(200) && m_process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    bool waitForExit(int ms = 30000) { return m_process.waitForFinished(ms); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

    QStringList tunnels; // "<id> <port> <name>"
    QList<qint64> children;

private:
    QProcess m_process;
};

bool anyAlive(const QList<qint64>& pids) {
    return std::any_of(pids.begin(), pids.end(), [](qint64 pid) { return processAlive(pid); });
}

// A session bus of our own with no activatable services, so that a notification server
// exists only when a test starts one.
class PrivateBus {
public:
    PrivateBus() {
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral(
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                       "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                       "busconfig.dtd\">\n<busconfig><type>session</type>"
                       "<listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                       "<policy context=\"default\"><allow send_destination=\"*\" "
                       "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                       "</policy></busconfig>\n")
                       .arg(m_dir.filePath(QStringLiteral("bus")))
                       .toUtf8());
        file.close();
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config, QStringLiteral("--fork"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
        daemon.waitForFinished(10000);
        const QList<QByteArray> lines = daemon.readAllStandardOutput().split('\n');
        if (lines.size() >= 2) {
            address = QString::fromUtf8(lines[0].trimmed());
            m_pid = lines[1].trimmed().toLongLong();
        }
    }
    ~PrivateBus() {
        if (m_dunst.state() != QProcess::NotRunning) {
            m_dunst.kill();
            m_dunst.waitForFinished(5000);
        }
        if (m_pid > 0)
            ::kill(static_cast<pid_t>(m_pid), SIGTERM);
    }
    QProcessEnvironment environment() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        return env;
    }
    bool hasNotificationServer() const {
        QProcess query;
        query.setProcessEnvironment(environment());
        query.start(QStringLiteral("dbus-send"),
                    {QStringLiteral("--session"), QStringLiteral("--dest=org.freedesktop.DBus"),
                     QStringLiteral("--print-reply"), QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                     QStringLiteral("string:org.freedesktop.Notifications")});
        query.waitForFinished(5000);
        return query.readAllStandardOutput().contains("boolean true");
    }
    bool startNotificationServer() {
        m_dunst.setProcessEnvironment(environment());
        m_dunst.setStandardOutputFile(QProcess::nullDevice());
        m_dunst.setStandardErrorFile(QProcess::nullDevice());
        m_dunst.start(QStringLiteral("dunst"), {});
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            if (hasNotificationServer())
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void killNotificationServer() {
        m_dunst.kill();
        m_dunst.waitForFinished(5000);
    }

    QString address;

private:
    QTemporaryDir m_dir;
    qint64 m_pid = 0;
    QProcess m_dunst;
};

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void appEndsWhileTunnelsRun_data();
    void appEndsWhileTunnelsRun();
    void childIgnoringTerminateIsKilledOnStop();
    void childIgnoringTerminateIsKilledOnQuit();
    void killedInTheMiddleOfSaving();
    void unusableSettings_data();
    void unusableSettings();
    void clientRemovedAndPutBack();
    void noNotificationServer();
    void notificationServerGoesAway();
};

void FaultsTest::appEndsWhileTunnelsRun_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGKILL") << SIGKILL;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void FaultsTest::appEndsWhileTunnelsRun() {
    QFETCH(int, signalNumber);
    AppHome home;
    const QList<TunnelConfig> saved = makeList(10);
    home.save(saved);

    Driver app(home, {QStringLiteral("app"), QStringLiteral("--start-all")});
    QVERIFY(app.start());
    QCOMPARE(app.children.size(), 10);
    for (qint64 pid : app.children) {
        QVERIFY(processAlive(pid));
        QVERIFY(processCommandLine(pid).contains(QStringLiteral("cloudflared tunnel --url")));
    }

    app.signal(signalNumber);
    QVERIFY(app.waitForExit());
    QElapsedTimer sinceExit;
    sinceExit.start();
    if (signalNumber == SIGKILL) {
        QCOMPARE(app.exitStatus(), QProcess::CrashExit);
    } else {
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        // Quit stopped the children before the app finished.
        QVERIFY(!anyAlive(app.children));
    }
    // The kernel ends them on the parent's death; allow for a busy machine.
    QTRY_VERIFY_WITH_TIMEOUT(!anyAlive(app.children), 3000);
    qInfo("children gone %lld ms after the app", static_cast<long long>(sinceExit.elapsed()));

    // Nothing wrong saved: the same list, nothing set aside as unreadable.
    const auto reloaded = home.load();
    QVERIFY(reloaded);
    QCOMPARE(*reloaded, saved);
    QVERIFY(!QSettings(home.settingsPath(), QSettings::IniFormat)
                 .contains(SettingsKeys::tunnelConfigsUnreadable));

    // A killed instance leaves its lock behind: the next launch takes over.
    Driver next(home);
    QVERIFY(next.start());
    QCOMPARE(next.tunnels.size(), 10);
    next.signal(SIGTERM);
    QVERIFY(next.waitForExit());
    QCOMPARE(next.exitCode(), 0);
}

void FaultsTest::childIgnoringTerminateIsKilledOnStop() {
    qputenv("FAKE_CF_IGNORE_TERM", "1");
    auto restore = qScopeGuard([] { qunsetenv("FAKE_CF_IGNORE_TERM"); });
    TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Stubborn"), 8000),
                          {fakeClientLocator(), nullptr});
    tunnel.start();
    QVERIFY(tunnel.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL().has_value(), 10000);
    const qint64 pid = tunnel.childPid();

    QElapsedTimer timer;
    timer.start();
    tunnel.stop();
    QVERIFY(!tunnel.tunnelURL());
    // Still there while the grace period runs: it really ignores the request.
    QTest::qWait(1000);
    QVERIFY(processAlive(pid));
    QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isRunning(), TunnelInstance::killGraceMs + 10000);
    QVERIFY(!processAlive(pid));
    // The grace timer is a coarse one: it may fire up to 5% early.
    QVERIFY(timer.elapsed() >= TunnelInstance::killGraceMs * 9 / 10);
}

void FaultsTest::childIgnoringTerminateIsKilledOnQuit() {
    AppHome home;
    home.save(makeList(3));
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FAKE_CF_IGNORE_TERM"), QStringLiteral("1"));
    Driver app(home, {QStringLiteral("app"), QStringLiteral("--start-all")}, env);
    QVERIFY(app.start());
    QCOMPARE(app.children.size(), 3);

    QElapsedTimer timer;
    timer.start();
    app.signal(SIGTERM);
    QVERIFY(app.waitForExit(TunnelInstance::killGraceMs + 20000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    // Quit waited for the kill instead of leaving the children behind.
    QVERIFY(timer.elapsed() >= TunnelInstance::killGraceMs * 9 / 10);
    QVERIFY(!anyAlive(app.children));
}

void FaultsTest::killedInTheMiddleOfSaving() {
    AppHome home;
    QList<TunnelConfig> old = makeList(5, QStringLiteral("old "));
    home.save(old);
    QList<TunnelConfig> fresh = old;
    for (TunnelConfig& config : fresh)
        config.name.replace(QStringLiteral("old "), QStringLiteral("new "));

    const int rounds = qEnvironmentVariableIntValue("QUILLBY_FAULT_SAVE_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("QUILLBY_FAULT_SAVE_ROUNDS")
                           : 200;
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < rounds; ++round) {
        Driver saver(home, {QStringLiteral("saves")});
        QVERIFY(saver.start("saving"));
        QThread::usleep(QRandomGenerator::global()->bounded(30000));
        saver.signal(SIGKILL);
        QVERIFY(saver.waitForExit());

        const auto loaded = home.load();
        QVERIFY2(loaded, qPrintable(QStringLiteral("round %1: the list does not load").arg(round)));
        if (*loaded == old)
            ++sawOld;
        else if (*loaded == fresh)
            ++sawNew;
        else
            QFAIL(qPrintable(QStringLiteral("round %1: neither the old nor the new list: %2")
                                 .arg(round)
                                 .arg(QString::fromUtf8(encodeTunnelConfigs(*loaded)))));
        QVERIFY(!QSettings(home.settingsPath(), QSettings::IniFormat)
                     .contains(SettingsKeys::tunnelConfigsUnreadable));
    }
    qInfo("%d kills: old list %d times, new list %d times", rounds, sawOld, sawNew);
    // The kills landed in the middle of saving, not before or after it.
    QVERIFY(sawOld > 0 && sawNew > 0);
}

void FaultsTest::unusableSettings_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("garbage") << QStringLiteral("garbage");
    QTest::newRow("unreadable file") << QStringLiteral("unreadable");
    QTest::newRow("directory in its place") << QStringLiteral("directory");
    QTest::newRow("read-only folder") << QStringLiteral("readonly");
}

void FaultsTest::unusableSettings() {
    QFETCH(QString, fault);
    // Permissions bite only without root: those cases run the app as an unprivileged user.
    const bool unprivileged =
        fault == QLatin1String("unreadable") || fault == QLatin1String("readonly");
    AppHome home;
    if (unprivileged)
        home.openToNobody();
    QDir().mkpath(home.settingsDir());
    ::chmod(home.settingsDir().toLocal8Bit().constData(), 0777);
    const QByteArray path = home.settingsPath().toLocal8Bit();
    const QList<TunnelConfig> saved = makeList(3);

    int expectedTunnels = 1; // the default tunnel, when nothing could be read
    if (fault == QLatin1String("garbage")) {
        QFile file(home.settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\ntunnelConfigs=[{\"id\": not json\n\x01\xff\xfe garbage\n");
    } else if (fault == QLatin1String("unreadable")) {
        home.save(saved);
        ::chmod(path.constData(), 0);
    } else if (fault == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(home.settingsPath()));
    } else {
        home.save(saved);
        expectedTunnels = 3;
        ::chmod(path.constData(), 0444);
        ::chmod(home.settingsDir().toLocal8Bit().constData(), 0555);
    }
    QByteArray before;
    if (QFileInfo(home.settingsPath()).isFile()) {
        QFile file(home.settingsPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
    }

    Driver app(home, {QStringLiteral("app"), QStringLiteral("--start-all")});
    if (unprivileged)
        app.dropRoot();
    QVERIFY(app.start());
    QCOMPARE(app.tunnels.size(), expectedTunnels);
    QCOMPARE(app.children.size(), expectedTunnels);
    QTest::qWait(500);
    QVERIFY(app.isRunning());
    app.signal(SIGTERM);
    QVERIFY(app.waitForExit());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QVERIFY(!anyAlive(app.children));

    ::chmod(home.settingsDir().toLocal8Bit().constData(), 0777);
    if (fault == QLatin1String("garbage")) {
        // The value it could not read is kept aside; the default list replaced it.
        QSettings settings(home.settingsPath(), QSettings::IniFormat);
        QVERIFY(settings.contains(SettingsKeys::tunnelConfigsUnreadable));
        QVERIFY(settings.value(SettingsKeys::tunnelConfigsUnreadable)
                    .toString()
                    .contains(QStringLiteral("not json")));
        QCOMPARE(home.load()->size(), 1);
    } else if (fault == QLatin1String("directory")) {
        QVERIFY(QFileInfo(home.settingsPath()).isDir());
    } else {
        // Never overwritten: the data is still there for a later, working start.
        QFile file(home.settingsPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

void FaultsTest::clientRemovedAndPutBack() {
    QTemporaryDir bin;
    const QString client = bin.filePath(QStringLiteral("cloudflared"));
    QVERIFY(QFile::copy(fakeClientPath(), client));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ":/usr/bin:/bin");
    auto restore = qScopeGuard([&] { qputenv("PATH", oldPath); });
    // Only the command search, so that a client installed on this machine cannot answer.
    const CloudflaredLocator locator({}, CloudflaredLocator::defaultSearchTool());
    const ClientLocator find = [&locator] { return locator.find(); };

    TunnelInstance first(TunnelConfig::create(QStringLiteral("First"), 8001), {find, nullptr});
    TunnelInstance second(TunnelConfig::create(QStringLiteral("Second"), 8002), {find, nullptr});
    TunnelInstance third(TunnelConfig::create(QStringLiteral("Third"), 8003), {find, nullptr});
    first.start();
    second.start();
    QTRY_VERIFY_WITH_TIMEOUT(first.tunnelURL() && second.tunnelURL(), 10000);

    QVERIFY(QFile::remove(client));
    QCOMPARE(find(), std::nullopt);
    // Running tunnels keep running; a new start is a silent no-op.
    third.start();
    QVERIFY(!third.isRunning());
    QVERIFY(!third.hasChild());
    QTest::qWait(300);
    QVERIFY(first.isRunning() && second.isRunning());
    QVERIFY(first.tunnelURL() && second.tunnelURL());
    // Stopping one still works; restarting it does not while the client is gone.
    first.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!first.isRunning(), 10000);
    first.start();
    QVERIFY(!first.isRunning());

    QVERIFY(QFile::copy(fakeClientPath(), client));
    QCOMPARE(find(), client);
    first.start();
    third.start();
    QVERIFY(first.isRunning() && third.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(first.tunnelURL() && third.tunnelURL(), 10000);
    QVERIFY(second.isRunning());
}

void FaultsTest::noNotificationServer() {
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    QVERIFY(!bus.hasNotificationServer());
    AppHome home;
    home.save(makeList(4));
    auto env = bus.environment();
    // One tunnel comes up, one crashes at once: both post a notification to nobody.
    env.insert(QStringLiteral("FAKE_CF_MODE_20001"), QStringLiteral("exit"));
    env.insert(QStringLiteral("FAKE_CF_EXIT_STATUS"), QStringLiteral("1"));
    Driver app(home, {QStringLiteral("app"), QStringLiteral("--start-all")}, env);
    QVERIFY(app.start());
    QCOMPARE(app.children.size(), 4);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(app.children[1]), 10000);
    ::kill(static_cast<pid_t>(app.children[2]), SIGUSR1);
    QTest::qWait(1000);
    QVERIFY(app.isRunning());
    app.signal(SIGTERM);
    QVERIFY(app.waitForExit());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QVERIFY(!anyAlive(app.children));
}

void FaultsTest::notificationServerGoesAway() {
    PrivateBus bus;
    QVERIFY(!bus.address.isEmpty());
    QVERIFY(bus.startNotificationServer());
    AppHome home;
    home.save(makeList(5));
    Driver app(home, {QStringLiteral("app"), QStringLiteral("--start-all")}, bus.environment());
    QVERIFY(app.start());
    QCOMPARE(app.children.size(), 5);
    QTest::qWait(1000); // the active notifications reach the server

    bus.killNotificationServer();
    QVERIFY(!bus.hasNotificationServer());
    // Crashes now post to a name nobody owns any more.
    ::kill(static_cast<pid_t>(app.children[0]), SIGUSR1);
    ::kill(static_cast<pid_t>(app.children[1]), SIGUSR1);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(app.children[0]) && !processAlive(app.children[1]),
                             10000);
    QTest::qWait(1000);
    QVERIFY(app.isRunning());
    app.signal(SIGINT);
    QVERIFY(app.waitForExit());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QVERIFY(!anyAlive(app.children));
}

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
