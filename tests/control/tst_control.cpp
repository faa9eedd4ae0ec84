// The command line against a running app: the app (store, status window, control server on a
// real socket) in this process with the stand-in client, the commands run as the built
// quillby binary. Which request lines are refused with which code is tst_controlrequest's.
#include "TestSupport.h"
#include "app/QuillbyApp.h"
#include "control/ControlServer.h"
#include "control/SingleInstance.h"
#include "model/TunnelStore.h"
#include "ports/PortScanner.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Every case starts from these tunnels; the stand-in's mode is chosen per port.
const QList<std::pair<QString, int>> startingTunnels{
    {"web", 3000}, {"dup", 3002}, {"dup", 3003}, {"slow", 3005}, {"dies", 3006}, {"later", 3007}};

struct RunningApp {
    TempHome home;
    QString runtime = home.path() + "/runtime";
    std::unique_ptr<QSettings> settings = home.settings();
    std::unique_ptr<QuillbyApp> app;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<ControlServer> control;

    RunningApp() {
        ::mkdir(QFile::encodeName(runtime).constData(), 0700);
        QList<TunnelConfig> list;
        for (const auto& [name, port] : startingTunnels)
            list.append(TunnelConfig::create(name, port));
        settings->setValue("tunnelConfigs", encodeTunnelConfigs(list));
        app = std::make_unique<QuillbyApp>(
            QuillbyApp::Parts{settings.get(), nullptr, nullptr, fakeClientLocator()});
        app->showWindow(); // on screen, so that every change shows
        instance = std::make_unique<SingleInstance>(runtime);
        instance->claim();
        control = std::make_unique<ControlServer>(instance->server(), app->store());
    }
    ~RunningApp() {
        app->store()->stopAll();
        for (int i = 0; i < 1000 && app->store()->hasLiveChildren(); ++i)
            QTest::qWait(10);
    }
    // `quillby ARGS` (split at spaces, '_' for a space inside one): its exit status, and its
    // standard output and error together in *out.
    int quillby(const QString& line, QString* out = nullptr) {
        QProcess cli;
        launch(cli, line);
        // The app answers on this thread's event loop, so wait by spinning it.
        for (int i = 0; i < 2000 && cli.state() != QProcess::NotRunning; ++i)
            QTest::qWait(10);
        if (out)
            *out = QString::fromUtf8(cli.readAll());
        return cli.exitCode();
    }
    void launch(QProcess& cli, const QString& line) {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("PATH", QFileInfo(fakeClientPath()).path() + u':' + env.value("PATH"));
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name); // the command line needs no display
        cli.setProcessEnvironment(env);
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(QUILLBY_BINARY, line.split(u' ').replaceInStrings("_", " "));
    }
};

} // namespace

class TestControl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("FAKE_CF_PAUSE_MS", "700"); }

    void commands_data() {
        QTest::addColumn<QString>("commands"); // run in turn; all but the last must succeed
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");  // pattern for standard output and error
        QTest::addColumn<int>("tunnels");     // how many the store holds afterwards
        QTest::addColumn<QByteArray>("mode"); // the stand-in's; it only sees the gateway's port
        const QString url = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");
        auto row = [](const char* name, const char* commands, int status, const QString& output,
                      int tunnels = 6, const char* mode = "url") {
            QTest::newRow(name) << QString(commands) << status << output << tunnels
                                << QByteArray(mode);
        };
        row("list", "list", 0, "^[0-9A-F]{8}   3000  stopped     web\n[0-9A-F]{8}   3002");
        row("start by name, url", "start web|url web", 0, "^" + url + "\n$");
        row("start by port, json", "start 3003|list --json", 0,
            "\"port\": 3003,\\s+\"problem\": .*,[^}]+\"state\": \"active\",[^}]+\"url\": "
            "\"https://");
        row("set, in list --json",
            "start web|set web --inspect on --password on --for 90s|list --json", 0,
            "\"inspect\": true,[\\s\\S]*\"password\": true,\\s+\"port\": "
            "3000,[\\s\\S]*\"stopsAt\": \"20\\d\\d-\\d\\d-\\d\\dT[0-9:]{8}Z\"");
        row("set a stopped tunnel's time limit", "set web --for 1h", 1, "'web' is not running");
        row("ambiguous name", "start dup", 5,
            "\"dup\" matches 2 tunnels.*\n  .* 3002 .*\n  .* 3003 ");
        row("no match", "stop nothing", 4, "No tunnel has the name, port or id \"nothing\"");
        row("url --wait succeeds", "start later|url later --wait 10", 0, url, 6, "split");
        row("url --wait times out", "start slow|url slow --wait 0.5", 6,
            "'slow' is still connecting", 6, "no-url");
        row("url --wait sees it fail", "share 3006", 1, "'dies' is not running", 6, "api-failure");
        row("share a fresh port", "share 4000", 0, url, 7);
        row("add, trimmed, started", "add --port 4001 --name _café_ --start|url café", 0, url, 7);
        row("add, default name", "add --port 4002", 0, "^[0-9A-F-]{36}\n$", 7);
        row("add, empty name", "add --port 4002 --name __", 2, "The name is empty", 6);
        row("remove", "remove web", 0, "^$", 5);
        row("stop --all", "start web|start slow|stop --all|list", 0, "^((?!active|conn).)*$", 6);
        row("version, with the client's", "--version", 0,
            "^Quillby \\S+\ncloudflared: \\S+/cloudflared \\(version 2023\\.7\\.3\\)\n$");
        // One line per open common port: ours, and whatever else listens here.
        row("scan", "--scan", 0, "^(localhost:\\d+\n)*localhost:%1\n(localhost:\\d+\n)*$");
    }

    void commands() {
        QFETCH(QString, commands);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QByteArray, mode);
        qputenv("FAKE_CF_MODE", mode);
        // A listener on a free common port for --scan; not 3000 or 8000, which tunnels use.
        QTcpServer common;
        for (qint64 port : PortScanner::commonPorts)
            if (port >= 1024 && port != 3000 && port != 8000 &&
                common.listen(QHostAddress::LocalHost, quint16(port)))
                break;
        output.replace(QStringLiteral("%1"), QString::number(common.serverPort()));
        RunningApp app;
        const QStringList steps = commands.split(QLatin1Char('|'));
        QString out;
        for (qsizetype i = 0; i + 1 < steps.size(); ++i)
            QCOMPARE(app.quillby(steps[i]), 0);
        QCOMPARE(app.quillby(steps.back(), &out), status);
        QVERIFY2(out.contains(QRegularExpression(output, QRegularExpression::MultilineOption)),
                 qPrintable(out));
        QTEST(int(app.app->store()->instances().size()), "tunnels");
        // Saved at once: the file holds what the store holds, switches included.
        QList<TunnelConfig> configs;
        for (const TunnelInstance* tunnel : app.app->store()->instances())
            configs.append(tunnel->config());
        QCOMPARE(QSettings(app.settings->fileName(), QSettings::IniFormat)
                     .value("tunnelConfigs")
                     .toByteArray(),
                 encodeTunnelConfigs(configs));
    }

    // url --follow against a tunnel with a time limit: the URL, the stop by itself, the URL of
    // the next start, and the end when the tunnel is removed.
    void followUntilRemoved() {
        RunningApp app;
        QCOMPARE(app.quillby(QStringLiteral("start web --for 2s")), 0);
        QProcess follow;
        app.launch(follow, QStringLiteral("url web --follow"));
        const QByteArray url = "https://fare-write-waste-gadgets.trycloudflare.com\n";
        QTRY_VERIFY_WITH_TIMEOUT(follow.canReadLine(), 10000);
        QCOMPARE(follow.readLine(), url);
        QTRY_VERIFY_WITH_TIMEOUT(!app.app->store()->instances().front()->isRunning(), 10000);
        QCOMPARE(app.quillby(QStringLiteral("start web")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(follow.canReadLine(), 10000);
        QCOMPARE(follow.readLine(), url);
        QCOMPARE(app.quillby(QStringLiteral("remove web")), 0);
        QTRY_COMPARE_WITH_TIMEOUT(follow.state(), QProcess::NotRunning, 10000);
        QCOMPARE(follow.exitCode(), 0);
    }
    // A follower that never reads is dropped once it is behind, while the app goes on.
    void slowFollowerIsDropped() {
        RunningApp app;
        TunnelInstance* web = app.app->store()->instances().front();
        web->start();
        QTRY_VERIFY_WITH_TIMEOUT(web->state() == TunnelInstance::State::Active, 10000);
        QLocalSocket reader;
        reader.setReadBufferSize(1);
        reader.connectToServer(app.instance->socketPath());
        QVERIFY(reader.waitForConnected(2000));
        reader.write("{\"v\":1,\"cmd\":\"url\",\"tunnel\":\"web\",\"follow\":true}\n");
        QTRY_VERIFY(reader.bytesAvailable() > 0); // the reply: it follows now
        const auto follower = app.instance->server()->findChild<QLocalSocket*>();
        int published = 0;
        for (; published < 100000 && follower->state() == QLocalSocket::ConnectedState; ++published)
            emit web->becameActive(web->tunnelURLText());
        QVERIFY(published < 100000);
        QCOMPARE(app.quillby(QStringLiteral("url web")), 0);
    }

    // Another user reaches the socket: refused by its permissions and, with them opened up, by
    // its peer credentials. Nothing is answered and nothing changes.
    void otherUserIsRefused_data() {
        QTest::addColumn<bool>("openSocket");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("socket as created") << false << "PermissionError";
        QTest::newRow("socket mode opened") << true << "reply: none";
    }
    void otherUserIsRefused() {
        QFETCH(bool, openSocket);
        if (::geteuid() != 0)
            QSKIP("needs root, to run a client as the user nobody");
        RunningApp app;
        const QByteArray socket = QFile::encodeName(app.instance->socketPath());
        // The folders on the way are made passable, so that only the socket can refuse.
        for (QString dir = app.runtime; dir.size() > 4; dir = QFileInfo(dir).path())
            ::chmod(QFile::encodeName(dir).constData(), 0711);
        if (openSocket)
            QCOMPARE(::chmod(socket.constData(), 0777), 0);
        QProcess nobody;
        nobody.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                 "/usr/bin/python3", "-c",
                                 "import socket, sys\n"
                                 "s = socket.socket(socket.AF_UNIX)\n"
                                 "try:\n"
                                 "    s.connect(sys.argv[1])\n"
                                 "except OSError as e:\n"
                                 "    sys.exit(print(type(e).__name__))\n"
                                 "try:\n"
                                 "    s.sendall(b'{\"v\":1,\"cmd\":\"add\",\"port\":9}\\n')\n"
                                 "    print('reply:', s.recv(100) or 'none')\n"
                                 "except OSError:\n"
                                 "    print('reply: none')\n",
                                 QString::fromLocal8Bit(socket)});
        QTRY_VERIFY_WITH_TIMEOUT(nobody.state() == QProcess::NotRunning, 10000);
        QTEST(QString::fromUtf8(nobody.readAll() + nobody.readAllStandardError()).trimmed(),
              "outcome");
        QCOMPARE(int(app.app->store()->instances().size()), int(startingTunnels.size()));
    }
};

QTEST_MAIN(TestControl)
#include "tst_control.moc"
