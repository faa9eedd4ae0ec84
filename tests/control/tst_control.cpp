// The command line against a running core: the store and the control server on a real socket
// in this process, each command run by ControlCommand on a thread of its own (its client
// blocks) while this thread's event loop answers. The tunnels' clients are scripted in process;
// signing in and setting a named tunnel up run the stand-in client. Which request lines are
// refused with which code is tst_controlrequest's.
#include "ClientLines.h"
#include "ScriptedClient.h"
#include "TestSupport.h"
#include "cli/ControlCommand.h"
#include "control/ControlServer.h"
#include "control/SingleInstance.h"
#include "model/AccountFiles.h"
#include "model/ClientVersion.h"
#include "model/ShareDuration.h"
#include "model/TunnelStore.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Every case starts from these tunnels; what their clients do is play()'s.
const QList<std::pair<QString, int>> startingTunnels{
    {"web", 3000},  {"dup", 3002},    {"dup", 3003},   {"slow", 3005},
    {"dies", 3006}, {"twin-a", 3008}, {"twin-b", 3008}};

// What a client does once launched, by its tunnel's name: a named tunnel's registers its four
// connections, "slow"'s says nothing, "dies"'s cannot reach the service and ends; any other's
// prints the URL and registers.
void play(ScriptedClient& client) {
    using namespace ClientLines;
    const QString name = qobject_cast<TunnelInstance*>(client.parent())->config().name;
    if (client.arguments.contains("run"))
        client.print(at(registered, {0, 1, 2, 3}));
    else if (name == "dies")
        client.print(apiFailure);
    else if (name != "slow")
        client.print(urlBox + at(registered));
    if (name == "dies")
        client.exit(1);
}

struct RunningApp {
    TempHome home;
    std::unique_ptr<QSettings> settings = home.settings();
    ClientVersion version{fakeClientLocator()};
    ScriptedClients clients;
    std::unique_ptr<TunnelStore> store;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<ControlServer> control;

    RunningApp() {
        clients.prepare = [](ScriptedClient& client) {
            QTimer::singleShot(0, &client, [&client] { play(client); });
        };
        QList<TunnelConfig> list;
        for (const auto& [name, port] : startingTunnels)
            list.append(TunnelConfig::create(name, port));
        settings->setValue("tunnelConfigs", encodeTunnelConfigs(list));
        store = std::make_unique<TunnelStore>(settings.get(),
                                              TunnelServices{.findClient = fakeClientLocator(),
                                                             .clientVersion = &version,
                                                             .newClient = clients.factory()});
        instance = std::make_unique<SingleInstance>(home.path());
        instance->claim();
        control = std::make_unique<ControlServer>(instance->server(), store.get());
    }
    ~RunningApp() {
        store->stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!store->hasLiveChildren(), 10000);
    }
    // `quillby LINE` (split at spaces, '_' for a space inside one) on a thread of its own, as
    // its client blocks: its exit status in *status, and what it prints in the file printed()
    // reads. Started by the caller.
    QThread* launch(const QString& line, int* status) {
        return QThread::create([this, line, status] {
            QFile file(home.path() + "/printed-" + QString::number(qHash(line)));
            file.open(QIODevice::WriteOnly);
            QTextStream stream(&file);
            *status =
                ControlCommand::run(("quillby " + line).split(u' ').replaceInStrings("_", " "),
                                    stream, stream, instance->socketPath());
        });
    }
    QString printed(const QString& line) const {
        return QString::fromUtf8(
            readFile(home.path() + "/printed-" + QString::number(qHash(line))));
    }
    // Its exit status once this thread's event loop has answered it; what it printed in *out.
    int quillby(const QString& line, QString* out = nullptr) {
        int status = -1;
        const std::unique_ptr<QThread> thread(launch(line, &status));
        QEventLoop loop;
        QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
        thread->start();
        loop.exec();
        thread->wait();
        if (out)
            *out = printed(line);
        return status;
    }
};

} // namespace

class TestControl : public QObject {
    Q_OBJECT

private slots:
    void commands_data() {
        QTest::addColumn<QString>("commands"); // run in turn; all but the last must succeed
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // pattern for standard output and error
        QTest::addColumn<int>("added");      // tunnels the store holds afterwards, more than before
        // The stand-in account API's mode, signed in unless said; "": none. What it was asked:
        // tunnels created, hostnames routed, tunnels deleted (none by default).
        QTest::addColumn<QString>("api");
        QTest::addColumn<QString>("calls");
        auto row = [](const char* name, const char* commands, int status, const QString& output,
                      int added = 0, const char* api = "", const char* calls = "0 0 0") {
            QTest::newRow(name) << QString(commands) << status << output << added << QString(api)
                                << QString(calls);
        };
        row("set, in list --json",
            "start web|set web --inspect on --password on --for 90s|list --json", 0,
            "\"inspect\": true,[\\s\\S]*\"password\": true,\\s+\"port\": "
            "3000,\\s+\"problem\": .*,[\\s\\S]*\"stopsAt\": \"20\\d\\d-\\d\\d-\\d\\dT[0-9:]{8}Z\"");
        row("set a stopped tunnel's time limit", "set web --for 1h", 1, "'web' is not running");
        row("set nothing", "set web", 2, "Nothing to change");
        row("ambiguous name", "start dup", 5,
            "\"dup\" matches 2 tunnels.*\n  .* 3002 .*\n  .* 3003 ");
        row("no match", "stop nothing", 4, "No tunnel has the name, port or id \"nothing\"");
        row("url --wait times out", "start slow|url slow --wait 0.2", 6,
            "'slow' is still connecting");
        row("url --credentials", "share 3000 --password|url web --credentials", 0,
            "^https://quillby:[^@]+@fare-write");
        row("url --wait sees it fail", "share 3006", 1, "'dies' is not running");
        // Each --for is checked for the tunnel it stops (below).
        row("start --for", "start 3003 --for 2h|url 3003 --wait 10", 0, ClientLines::url);
        row("share --for", "share 4000 --for 90s", 0, ClientLines::url, 1);
        // The running one of two on the port: the first stays stopped. The list: a line each, in
        // order, each starting with its id.
        row("share picks the running one", "start twin-b|share 3008|list", 0,
            "3008  stopped     twin-a\n[0-9A-F]{8}   3008  active      twin-b");
        row("add, trimmed, started", "add --port 4001 --name _café_ --start|url café --wait 10", 0,
            ClientLines::url, 1);
        row("add, default name", "add --port 4002|list", 0, "4002  stopped     Tunnel\n$", 1);
        row("add, empty name", "add --port 4002 --name __", 2, "The name is empty");
        row("stop --all", "start web|start slow|stop --all|list", 0,
            "\\A((?!active|conn)[\\s\\S])*\\z");
        // Tunnels on a hostname (ADD: one added on dev.example.com); a step marked '-' may fail.
        // The first start sets the named tunnel up, later ones make no account call; a failed
        // setup is retried without a second tunnel made; a taken hostname is taken over only when
        // asked (takeOver()).
        row("login", "login --wait 10", 0,
            "^Open this page to sign in: https://dash.cloudflare.com/argotunnel\\?.*\nSigned in\n$",
            0, "ok signed out");
        row("login times out", "login --wait 0", 6, "Signing in timed out", 0, "ok signed out");
        row("set up, then started at once",
            "ADD --start|url site --wait 10|stop site|start site|url site --wait 10|list --json", 0,
            "\"hostname\": null,[\\s\\S]*\"hostname\": \"dev.example.com\",[^}]+\"state\": "
            "\"active\",[^}]+\"url\": \"https://dev.example.com\"",
            1, "ok", "1 1 0");
        row("quick, then a hostname while running",
            "add --port 3000 --name site --start|url site --wait 10|set site --hostname "
            "dev.example.com|url site --wait 10",
            0, "^https://dev.example.com\n$", 1, "ok", "1 1 0");
        row("outside the zone, twice",
            "ADD --hostname dev.other.org --start|-url site --wait 10|start site|url site --wait "
            "10",
            1, "'site' is not running: dev.other.org is outside example.com", 1, "outside",
            "1 2 0");
        row("taken, taken over", "ADD --start|-url site --wait 10|start site|url site --wait 10", 1,
            "dev.example.com already points elsewhere; take it over", 1, "taken", "1 3 0");
        row("expired certificate", "ADD --start|url site --wait 10", 1, "refused your sign-in", 1,
            "expired", "1 0 0");
        // Set aside for the client's login, which never writes over one.
        const char* signedInAnew = "^Open this page to sign in: https://.*\nSigned in\n$";
        row("expired, signed in again", "ADD --start|-url site --wait 10|login --wait 10", 0,
            signedInAnew, 1, "expired", "1 0 0");
        row("login --again", "login --again --wait 10", 0, signedInAnew, 0, "ok");
        row("offline", "ADD --start|url site --wait 10", 1, "cannot be reached", 1, "offline");
        row("not signed in", "ADD --start", 1, "'site' failed to start: Sign in first", 1,
            "ok signed out");
        row("removed, kept in the account", "ADD --start|url site --wait 10|remove site", 0,
            "^Its named tunnel stays in your account, and its credentials in /", 0, "ok", "1 1 0");
        row("removed with it", "ADD --start|url site --wait 10|remove site --delete-remote", 0,
            "^$", 0, "ok", "1 1 1");
    }

    void commands() {
        QFETCH(QString, commands);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, api);
        RunningApp app;
        std::optional<AccountApi> account;
        if (!api.isEmpty())
            account.emplace(api.section(' ', 0, 0));
        if (!api.isEmpty() && !api.endsWith("signed out"))
            writeFile(AccountFiles::loginCertificatePath(), certificate);
        const QString add = "add --port 3000 --name site --hostname dev.example.com";
        const QStringList steps = QString(commands).replace("ADD", add).split(u'|');
        QString out;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const bool mayFail = steps[i].startsWith(u'-');
            const int got = app.quillby(steps[i].mid(mayFail ? 1 : 0), &out);
            QVERIFY2(mayFail || got == (i + 1 < steps.size() ? 0 : status),
                     qPrintable(steps[i] + ": " + out));
        }
        QVERIFY2(out.contains(QRegularExpression(output, QRegularExpression::MultilineOption)),
                 qPrintable(out));
        QTEST(int(app.store->instances().size() - startingTunnels.size()), "added");
        TunnelInstance* last = app.store->instances().back();
        if (last->problemAction() == TunnelInstance::ProblemAction::TakeOver) {
            last->takeOver();
            QTRY_COMPARE(last->state(), TunnelInstance::State::Active);
        }
        QStringList calls;
        for (const char* method : {"POST", "PUT", "DELETE"})
            calls << QString::number(account ? account->calls(method) : 0);
        QTEST(calls.join(' '), "calls");
        // Saved at once: the file holds what the store holds, switches included. A time limit
        // given with a command stops one tunnel that long after it was given.
        QList<TunnelConfig> configs;
        QList<qint64> left; // seconds, of each tunnel with a time limit
        for (const TunnelInstance* tunnel : app.store->instances()) {
            configs.append(tunnel->config());
            if (tunnel->stopsAt().isValid())
                left << QDateTime::currentDateTimeUtc().secsTo(tunnel->stopsAt());
        }
        const QSettings saved(app.settings->fileName(), QSettings::IniFormat);
        QCOMPARE(saved.value("tunnelConfigs").toByteArray(), encodeTunnelConfigs(configs));
        const auto limit = QRegularExpression("--for (\\w+)").match(commands);
        if (limit.hasMatch() && status == 0) {
            const qint64 seconds = (*ShareDuration::parse(limit.captured(1)))->count();
            QVERIFY2(left.size() == 1 && left[0] > seconds - 10 && left[0] <= seconds,
                     qPrintable(QString::number(left.value(0))));
        }
    }

    // A request through the tunnel's gateway, listed, then sent again.
    void requestsAndReplay() {
        RunningApp app;
        // Nothing listens on its port: the gateway answers by itself, and logs that.
        const QString port = QString::number(closedPort());
        QCOMPARE(app.quillby("add --port " + port + " --name o --start"), 0);
        QCOMPARE(app.quillby("url o --wait 10"), 0); // the export names the public URL
        QCOMPARE(app.quillby("set o --inspect on"), 0);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost,
                             app.store->instances().back()->gateway()->port());
        client.write("GET /a HTTP/1.1\r\nHost: x\r\n\r\n");
        QTRY_COMPARE(app.store->instances().back()->gateway()->log()->rowCount(), 1);
        QString out;
        QCOMPARE(app.quillby("requests o", &out), 0);
        QVERIFY2(out.contains(QRegularExpression("^1  [0-9:]{8}  GET     /a  502 ")),
                 qPrintable(out));
        QCOMPARE(app.quillby("requests o --har", &out), 0);
        QVERIFY2(out.contains("\"url\": \"" + ClientLines::url + "/a\""), qPrintable(out));
        QCOMPARE(app.quillby("replay o 1", &out), 0);
        QCOMPARE(out, "2  HTTP/1.1 502 Bad Gateway\n");
        QCOMPARE(app.quillby("replay o 7", &out), 4);
        QVERIFY2(out.contains("'o' has no request 7 in its log."), qPrintable(out));
    }

    // On the wire: a follower that never reads is dropped once it is behind, while the app goes
    // on; url --follow prints the URL, a stop and the URL of the next start, and ends when the
    // tunnel is removed; a line with no line break that outgrows the limit is refused, and the
    // connection closed. A second launch's hand-over is in the journey.
    void followersAndOverlongLine() {
        RunningApp app;
        TunnelInstance* web = app.store->instances().front();
        web->start();
        QTRY_VERIFY(web->state() == TunnelInstance::State::Active);
        QLocalSocket reader;
        reader.setReadBufferSize(1);
        reader.connectToServer(app.instance->socketPath());
        QVERIFY(reader.waitForConnected(2000));
        reader.write("{\"v\":1,\"cmd\":\"url\",\"tunnel\":\"web\",\"follow\":true}\n");
        QTRY_VERIFY(reader.bytesAvailable() > 0);                 // the reply: it follows now
        const auto end = app.control->findChild<QLocalSocket*>(); // the server's side of it
        int published = 0;
        for (; published < 100000 && end->state() == QLocalSocket::ConnectedState; ++published)
            emit web->becameActive(web->tunnelURLText());
        QVERIFY(published < 100000);
        int status = -1;
        const std::unique_ptr<QThread> follower(app.launch("url web --follow", &status));
        follower->start();
        const QString url = ClientLines::url + '\n';
        QTRY_COMPARE(app.printed("url web --follow"), url);
        for (const char* line : {"stop web", "start web"})
            QCOMPARE(app.quillby(line), 0);
        QTRY_COMPARE(app.printed("url web --follow"), url + url);
        QCOMPARE(app.quillby(QStringLiteral("remove web")), 0);
        QTRY_VERIFY(follower->isFinished());
        QCOMPARE(status, 0);
        QLocalSocket overlong;
        overlong.connectToServer(app.instance->socketPath());
        overlong.write(QByteArray(ControlRequest::maxLineBytes + 1, ' '));
        QTRY_COMPARE(overlong.state(), QLocalSocket::UnconnectedState);
        const QString got = QString::fromUtf8(overlong.readAll());
        QVERIFY2(got.contains("\"error\":\"too-large\""), qPrintable(got));
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
        for (QString dir = app.home.path(); dir.size() > 4; dir = QFileInfo(dir).path())
            ::chmod(QFile::encodeName(dir).constData(), 0711);
        if (openSocket)
            QCOMPARE(::chmod(socket.constData(), 0777), 0);
        QProcess nobody;
        nobody.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                 "/usr/bin/python3", "-c",
                                 "import socket, sys\ns = socket.socket(socket.AF_UNIX)\n"
                                 "try: s.connect(sys.argv[1])\n"
                                 "except OSError as e: sys.exit(print(type(e).__name__))\n"
                                 "try: s.sendall(b'{\"v\":1,\"cmd\":\"add\",\"port\":9}\\n'); "
                                 "print('reply:', s.recv(100) or 'none')\n"
                                 "except OSError: print('reply: none')\n",
                                 QString::fromLocal8Bit(socket)});
        QTRY_VERIFY_WITH_TIMEOUT(nobody.state() == QProcess::NotRunning, 10000);
        QTEST(QString::fromUtf8(nobody.readAll() + nobody.readAllStandardError()).trimmed(),
              "outcome");
        QCOMPARE(int(app.store->instances().size()), int(startingTunnels.size()));
    }
};

QTEST_MAIN(TestControl)
#include "tst_control.moc"
