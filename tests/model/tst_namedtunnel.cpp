// A tunnel on the user's own domain: signing in, and setting its named tunnel up and deleting it,
// against the stand-in client as a real child and the stand-in account API (account_api.py) as
// a real server, in a temporary home.
#include "TestSupport.h"
#include "model/AccountFiles.h"
#include "model/AccountSignIn.h"
#include "model/NamedTunnelCommand.h"
#include "model/NamedTunnelSetup.h"
#include "model/SettingsKeys.h"
#include "model/TunnelConfig.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using Kind = AccountOutcome::Kind;

namespace {

const QUuid tunnelId = QUuid::fromString(QLatin1String("5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11"));
const char* const certificate = "-----BEGIN ARGO TUNNEL TOKEN-----\neyJ6b25lSUQiOiI3YjBh\n"
                                "-----END ARGO TUNNEL TOKEN-----\n";

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The stand-in account API in a mode of account_api.py; "offline": none listens.
class AccountApi {
public:
    explicit AccountApi(const QString& mode) {
        quint16 port = TestSupport::closedPort();
        if (mode != u"offline") {
            m_server.start(QStringLiteral("/usr/bin/python3"), {QUILLBY_ACCOUNT_API, mode});
            while (!m_server.canReadLine() && m_server.waitForReadyRead(10000)) {
            }
            port = quint16(m_server.readLine().mid(5).trimmed().toUInt());
        }
        qputenv("TUNNEL_API_URL", "http://127.0.0.1:" + QByteArray::number(port));
    }
    ~AccountApi() {
        m_server.kill();
        m_server.waitForFinished();
    }
    // Calls answered so far that name what: "POST", "PUT /zones", " /" for any.
    int calls(const QByteArray& what) {
        if (m_server.isOpen())
            m_log += m_server.readAllStandardOutput();
        return int(m_log.count(what));
    }

private:
    QProcess m_server;
    QByteArray m_log;
};

AccountOutcome setUp(NamedTunnelSetup::Request request, QList<NamedTunnelSetup::Step>* steps = {}) {
    NamedTunnelSetup setup(TestSupport::fakeClientLocator());
    QSignalSpy finished(&setup, &NamedTunnelSetup::finished);
    QObject::connect(&setup, &NamedTunnelSetup::stepChanged,
                     [steps](NamedTunnelSetup::Step step) { steps && (steps->append(step), 1); });
    setup.start(request);
    return finished.wait(10000) ? finished[0][0].value<AccountOutcome>() : AccountOutcome();
}

NamedTunnelSetup::Request request(const QString& hostname = QStringLiteral("dev.example.com")) {
    return {tunnelId, QStringLiteral("My Web"), hostname};
}

} // namespace

class TestNamedTunnel : public QObject {
    Q_OBJECT

    std::optional<TestSupport::TempHome> m_home;

private slots:
    void init() {
        m_home.emplace();
        qunsetenv("TUNNEL_ORIGIN_CERT");
        qputenv("FAKE_CF_INTERVAL_MS", "50");
    }

    // The row's certificate before; "" for none.
    void signIn_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("urlShown");
        QTest::newRow("signed in") << QByteArray() << Kind::Done << true;
        QTest::newRow("signed in already: no child")
            << QByteArray(certificate) << Kind::Done << false;
        // The client exits 0 having written nothing: the exit status is not trusted.
        QTest::newRow("a certificate without a token in the way")
            << QByteArray("-----BEGIN CERTIFICATE-----\n") << Kind::Failed << false;
        QTest::newRow("browser never finishes") << QByteArray() << Kind::TimedOut << true;
        QTest::newRow("no client") << QByteArray() << Kind::ClientMissing << false;
    }
    void signIn() {
        QFETCH(QByteArray, before);
        QFETCH(Kind, kind);
        const QString path = AccountFiles::loginCertificatePath();
        if (!before.isEmpty())
            writeFile(path, before);
        qputenv("FAKE_CF_LOGIN_MS", kind == Kind::TimedOut ? "-1" : "20");
        AccountSignIn signIn(kind == Kind::ClientMissing ? TestSupport::missingClientLocator()
                                                         : TestSupport::fakeClientLocator());
        QSignalSpy url(&signIn, &AccountSignIn::urlReady),
            finished(&signIn, &AccountSignIn::finished);
        signIn.start(std::chrono::milliseconds(kind == Kind::TimedOut ? 500 : 10000));
        QVERIFY(finished.wait(10000));
        const auto outcome = finished[0][0].value<AccountOutcome>();
        QCOMPARE(outcome.kind, kind);
        QTEST(url.size() == 1, "urlShown");
        QVERIFY(url.isEmpty() ||
                url[0][0].toString().startsWith("https://dash.cloudflare.com/argotunnel?"));
        QCOMPARE(AccountFiles::signedIn(), kind == Kind::Done);
        if (kind == Kind::Done && url.size())
            QCOMPARE(QFile::permissions(path) & 0x0077, 0); // owner only
        if (kind == Kind::Failed)
            QVERIFY(outcome.detail.startsWith("You have an existing certificate at " + path));
    }

    // The first start against the account API in each of its modes; only a complete setup
    // makes a tunnel ready to run.
    void setUpFirst_data() {
        QTest::addColumn<QString>("mode"); // account_api.py's, or "signed out"
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("createCalls");
        QTest::newRow("created, routed") << QString("ok") << Kind::Done << 1;
        QTest::newRow("not signed in") << QString("signed out") << Kind::NotSignedIn << 0;
        QTest::newRow("outside the zone") << QString("outside") << Kind::OutsideZone << 1;
        QTest::newRow("offline") << QString("offline") << Kind::Unreachable << 0;
        QTest::newRow("expired certificate") << QString("expired") << Kind::Refused << 1;
    }
    void setUpFirst() {
        QFETCH(QString, mode);
        QFETCH(Kind, kind);
        const QString hostname = mode == u"outside" ? "dev.other.org" : "dev.example.com";
        AccountApi api(mode == u"signed out" ? "ok" : mode);
        if (mode != u"signed out")
            writeFile(AccountFiles::loginCertificatePath(), certificate);
        QList<NamedTunnelSetup::Step> steps;
        const AccountOutcome outcome = setUp(request(hostname), &steps);
        QCOMPARE(outcome.kind, kind);
        QTEST(api.calls("POST"), "createCalls");
        QVERIFY(!outcome.text().isEmpty() || kind == Kind::Done);
        if (kind == Kind::OutsideZone)
            QVERIFY(outcome.zone == "example.com" && outcome.detail == hostname + ".example.com");
        if (kind != Kind::Done)
            return;
        QVERIFY(NamedTunnelSetup::isReady(tunnelId, outcome.remote));
        QCOMPARE(steps, (QList{NamedTunnelSetup::Step::Creating, NamedTunnelSetup::Step::Routing}));
        const QString credentials = AccountFiles::credentialsPath(tunnelId);
        QCOMPARE(QFile::permissions(credentials) & 0x7077, 0x6000); // owner: read, write
        // Saved with the tunnel: the hostname and the named tunnel's id, no secret.
        TunnelConfig config = TunnelConfig::create("My Web", 3000);
        config.hostname = hostname, config.remote = outcome.remote;
        m_home->settings()->setValue(SettingsKeys::tunnelConfigs, encodeTunnelConfigs({config}));
        const QByteArray saved = readFile(m_home->settingsPath()),
                         secret = QJsonDocument::fromJson(readFile(credentials))["TunnelSecret"]
                                      .toString()
                                      .toUtf8();
        QVERIFY(saved.contains(hostname.toUtf8()) && secret.size() > 8 && !saved.contains(secret));
        // A later start: at once, without a child or an account call.
        steps.clear();
        QCOMPARE(setUp({tunnelId, "My Web", hostname, outcome.remote}, &steps).kind, Kind::Done);
        QVERIFY(steps.isEmpty() && api.calls(" /") == 2);
        // The run command line as the client takes it: four connections, no URL.
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(TestSupport::fakeClientPath(),
                  NamedTunnelCommand::run(credentials, 8000, outcome.remote));
        QByteArray said;
        QTRY_COMPARE((said += run.readAll()).count("Registered tunnel connection"), 4);
        QVERIFY(said.contains("Starting tunnel tunnelID=" +
                              outcome.remote.toByteArray(QUuid::WithoutBraces)));
        run.kill();
        run.waitForFinished();
    }

    // Routing fails after creating: every later attempt routes the same named tunnel; taking
    // the hostname over is asked for, never done by default.
    void hostTakenThenTakenOver() {
        AccountApi api("taken");
        writeFile(AccountFiles::loginCertificatePath(), certificate);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const AccountOutcome outcome = setUp(request());
            QVERIFY(outcome.kind == Kind::HostTaken && outcome.text().contains("dev.example.com"));
            QVERIFY(!NamedTunnelSetup::isReady(tunnelId, outcome.remote));
        }
        NamedTunnelSetup::Request takeOver = request();
        takeOver.takeOver = true;
        const AccountOutcome outcome = setUp(takeOver);
        QCOMPARE(outcome.kind, Kind::Done);
        QCOMPARE(outcome.remote, AccountFiles::credentialsTunnelId(tunnelId));
        QVERIFY(api.calls("POST") == 1 && api.calls("PUT") == 3);
    }

    // Credentials gone: said so, made again only when asked (the old named tunnel deleted
    // first); then deleting removes the named tunnel and its credentials.
    void credentialsGoneThenDeleted() {
        AccountApi api("ok");
        writeFile(AccountFiles::loginCertificatePath(), certificate);
        const QUuid first = setUp(request()).remote;
        QVERIFY(AccountFiles::removeCredentials(tunnelId));
        NamedTunnelSetup::Request again{tunnelId, "My Web", "dev.example.com", first};
        QCOMPARE(setUp(again).kind, Kind::CredentialsMissing);
        again.recreate = true;
        const QUuid second = setUp(again).remote;
        QVERIFY(!second.isNull() && second != first && NamedTunnelSetup::isReady(tunnelId, second));
        NamedTunnelSetup setup(TestSupport::fakeClientLocator());
        QSignalSpy finished(&setup, &NamedTunnelSetup::finished);
        setup.deleteRemote(tunnelId);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished[0][0].value<AccountOutcome>().kind, Kind::Done);
        QVERIFY(!QFile::exists(AccountFiles::credentialsPath(tunnelId)));
        QVERIFY(api.calls("POST") == 2 && api.calls("DELETE") == 2);
        QProcess list;
        list.start(TestSupport::fakeClientPath(), {"tunnel", "list", "-o", "json"});
        QVERIFY(list.waitForFinished(10000));
        QCOMPARE(list.readAllStandardOutput().trimmed(), "[]");
    }
};

QTEST_GUILESS_MAIN(TestNamedTunnel)
#include "tst_namedtunnel.moc"
