// The client's metrics server as the tunnel's second witness beside its log, with the
// stand-in client as a real child on real sockets, two tunnels at once on ports of their own.
// What each log line means is tst_clientlog's.
#include "TestSupport.h"
#include "model/TunnelInstance.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace TestSupport;
using State = TunnelInstance::State;

class TestClientMetrics : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const char* name : {"FAKE_CF_VERSION", "FAKE_CF_WORDING", "FAKE_CF_MODE",
                                 "FAKE_CF_METRICS", "FAKE_CF_BOX"})
            qunsetenv(name);
        qputenv("FAKE_CF_INTERVAL_MS", "200");
    }

    // What either witness alone tells; a metrics address taken before the client binds it
    // (rows with a version) ends the client at once, and the tunnel launches it again on another
    // port without a word.
    void witnessBesideTheLog_data() {
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("connections"); // -1: unknown
        auto row = [](const char* name, const char* env, State state, int connections) {
            QTest::newRow(name) << QByteArray(env) << state << connections;
        };
        row("registration worded anew", "FAKE_CF_WORDING=unknown", State::Active, 1);
        row("connections gone, no line", "FAKE_CF_MODE=vanish", State::Reconnecting, 0);
        row("no metrics server: the log alone", "FAKE_CF_METRICS=off", State::Active, -1);
        row("box in a new layout", "FAKE_CF_BOX=unknown", State::Active, 1);
        row("address taken, 2026: failed to bind", "FAKE_CF_VERSION=2026", State::Active, 1);
        row("address taken, 2023.7: listen tcp", "FAKE_CF_VERSION=2023.7", State::Active, 1);
    }
    void witnessBesideTheLog() {
        QFETCH(QByteArray, env);
        QFETCH(State, state);
        QFETCH(int, connections);
        qputenv(env.split('=')[0], env.split('=')[1]);
        const TunnelServices services{.findClient = fakeClientLocator(),
                                      .metricsTiming = {.pollMs = 200, .gapMs = 0, .blipMs = 500}};
        QTcpServer origin; // no problem to tell about the local server
        QVERIFY(origin.listen(QHostAddress::LocalHost));
        TunnelInstance a(TunnelConfig::create("A", origin.serverPort()), services),
            b(TunnelConfig::create("B", origin.serverPort()), services);
        QSignalSpy ended(&a, &TunnelInstance::endedUnexpectedly);
        a.start();
        const quint16 first = a.metrics()->port();
        QTcpServer taken; // the child binds it only once its tunnel exists
        QVERIFY(!env.contains("VERSION") || taken.listen(QHostAddress::LocalHost, first));
        b.start();
        QVERIFY(b.metrics()->port() != first);
        for (TunnelInstance* t : {&a, &b}) {
            QTRY_COMPARE_WITH_TIMEOUT(t->state(), state, 15000);
            QTRY_COMPARE(t->connections().value_or(-1), connections);
            QCOMPARE(t->tunnelURLText(),
                     QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com"));
            QCOMPARE(t->problem(), QString());
        }
        QCOMPARE(a.metrics()->port() != first, taken.isListening());
        QVERIFY(ended.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestClientMetrics)
#include "tst_clientmetrics.moc"
