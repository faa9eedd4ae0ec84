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
using namespace TestSupport;

namespace {

const QUuid tunnelId = QUuid::fromString(QLatin1String("5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11"));

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
