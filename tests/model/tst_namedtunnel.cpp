// A tunnel on the user's own domain: signing in, and making its named tunnel again,
// against the stand-in client as a real child and the stand-in account API (account_api.py) as
// a real server, in a temporary home.
#include "TestSupport.h"
#include "model/AccountFiles.h"
#include "model/AccountSignIn.h"
#include "model/NamedTunnelSetup.h"
#include "model/TunnelConfig.h"

#include <QSignalSpy>
#include <QTest>

using Kind = AccountOutcome::Kind;
using namespace TestSupport;

namespace {

const QUuid tunnelId = QUuid::fromString(QLatin1String("5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11"));

AccountOutcome setUp(const NamedTunnelSetup::Request& request) {
    NamedTunnelSetup setup(fakeClientLocator());
    QSignalSpy finished(&setup, &NamedTunnelSetup::finished);
    setup.start(request);
    return finished.wait(10000) ? finished[0][0].value<AccountOutcome>() : AccountOutcome();
}

} // namespace

class TestNamedTunnel : public QObject {
    Q_OBJECT

    std::optional<TempHome> m_home;

private slots:
    void init() {
        m_home.emplace();
        qunsetenv("TUNNEL_ORIGIN_CERT");
        qputenv("FAKE_CF_INTERVAL_MS", "50");
    }

    // The row's certificate before; "" for none. again: it is to be replaced (refused, or
    // another domain wanted): set aside, kept, and put back when no new one comes.
    void signIn_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("urlShown");
        QTest::addColumn<bool>("again");
        const QByteArray none, old(certificate);
        QTest::newRow("signed in") << none << Kind::Done << true << false;
        QTest::newRow("signed in already: no child") << old << Kind::Done << false << false;
        // The client exits 0 having written nothing: the exit status is not trusted.
        QTest::newRow("a certificate without a token in the way")
            << QByteArray("-----BEGIN CERTIFICATE-----\n") << Kind::Failed << false << false;
        QTest::newRow("browser never finishes") << none << Kind::TimedOut << true << false;
        QTest::newRow("no client") << none << Kind::ClientMissing << false << false;
        QTest::newRow("again: the old one set aside") << old << Kind::Done << true << true;
        QTest::newRow("again, never finishes: put back") << old << Kind::TimedOut << true << true;
    }
    void signIn() {
        QFETCH(QByteArray, before);
        QFETCH(Kind, kind);
        QFETCH(bool, again);
        const QString path = AccountFiles::loginCertificatePath();
        if (!before.isEmpty())
            writeFile(path, before);
        qputenv("FAKE_CF_LOGIN_MS", kind == Kind::TimedOut ? "-1" : "20");
        AccountSignIn signIn(kind == Kind::ClientMissing ? missingClientLocator()
                                                         : fakeClientLocator());
        QSignalSpy url(&signIn, &AccountSignIn::urlReady),
            finished(&signIn, &AccountSignIn::finished);
        signIn.start(std::chrono::milliseconds(kind == Kind::TimedOut ? 2000 : 10000), again);
        QVERIFY(finished.wait(10000));
        const auto outcome = finished[0][0].value<AccountOutcome>();
        QCOMPARE(outcome.kind, kind);
        QTEST(url.size() == 1, "urlShown"); // its form is tst_control's "login"
        QCOMPARE(AccountFiles::signedIn(), kind == Kind::Done || again);
        if (again)
            QCOMPARE(readFile(path + (kind == Kind::Done ? ".old" : "")), before);
        if (kind == Kind::Done && url.size())
            QCOMPARE(QFile::permissions(path) & 0x0077, 0); // owner only
        if (kind == Kind::Failed)
            QVERIFY(outcome.detail.startsWith("You have an existing certificate at " + path));
    }

    // Credentials gone: said so, made again only when asked (the old named tunnel deleted
    // first). The rest of the setup is tst_control's, through the commands.
    void credentialsGone() {
        AccountApi api("ok");
        writeFile(AccountFiles::loginCertificatePath(), certificate);
        NamedTunnelSetup::Request request{tunnelId, "My Web", "dev.example.com"};
        const QUuid first = request.remote = setUp(request).remote;
        QVERIFY(AccountFiles::removeCredentials(tunnelId));
        QCOMPARE(setUp(request).kind, Kind::CredentialsMissing);
        request.recreate = true;
        const QUuid second = setUp(request).remote;
        QVERIFY(!second.isNull() && second != first && NamedTunnelSetup::isReady(tunnelId, second));
        QVERIFY(api.calls("POST") == 2 && api.calls("DELETE") == 1);
    }
};

QTEST_GUILESS_MAIN(TestNamedTunnel)
#include "tst_namedtunnel.moc"
