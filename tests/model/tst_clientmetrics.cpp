// The client's metrics server as the second witness beside its log, with the stand-in client
// as a real child on real sockets. What each log line means is tst_clientlog's.
#include "TestSupport.h"
#include "model/ClientLogClassifier.h"
#include "model/ClientMetrics.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace TestSupport;

namespace {

constexpr int slow = 15000; // generous: process start-up on a loaded machine
const ClientMetrics::Timing fast{.pollMs = 50, .gapMs = 0, .blipMs = 2000};
const QString fakeUrl = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");

// A child launched with the witness's arguments, its log read as a tunnel reads it: when the
// log's count of connections changes, the witness is asked at once.
struct Child {
    QProcess process;
    ClientLogClassifier log;
    QByteArray text;
    bool logUrl = false;

    Child(ClientMetrics& metrics, const QStringList& metricsArgs, const QStringList& env) {
        process.setEnvironment(QProcess::systemEnvironment() + env);
        QObject::connect(&process, &QProcess::readyReadStandardError, &process, [this, &metrics] {
            const QByteArray chunk = process.readAllStandardError();
            const int connections = log.connections();
            text += chunk;
            logUrl |= log.feed(chunk).has_value();
            if (log.connections() != connections)
                metrics.ask();
        });
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(closedPort());
        process.start(fakeClientPath(),
                      QStringList{QStringLiteral("tunnel"), QStringLiteral("--url"), origin} +
                          metricsArgs);
    }
    ~Child() {
        process.kill();
        process.waitForFinished();
    }
};

} // namespace

class TestClientMetrics : public QObject {
    Q_OBJECT

    QNetworkAccessManager m_network;

private slots:
    void init() { qputenv("FAKE_CF_INTERVAL_MS", "200"); }

    void witnessBesideTheLog_data() {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<int>("registrations"); // lines the child prints before it runs on
        QTest::addColumn<int>("logConnections");
        QTest::addColumn<bool>("logUrl");
        QTest::addColumn<QList<int>>("ready"); // readyConnections, each change
        QTest::addColumn<QString>("url");
        QTest::newRow("known lines: both agree")
            << QStringList{} << 1 << 1 << true << QList<int>{1} << fakeUrl;
        QTest::newRow("registration worded anew: /ready alone")
            << QStringList{"FAKE_CF_WORDING=unknown"} << 1 << 0 << true << QList<int>{1} << fakeUrl;
        QTest::newRow("connections gone without a line: /ready alone")
            << QStringList{"FAKE_CF_MODE=vanish"} << 1 << 1 << true << QList<int>{1, 0} << fakeUrl;
        QTest::newRow("lost and back within the blip: no fall")
            << QStringList{"FAKE_CF_MODE=lost", "FAKE_CF_OUTAGE_MS=500"} << 2 << 1 << true
            << QList<int>{1} << fakeUrl;
        QTest::newRow("no metrics server: the log alone, no error")
            << QStringList{"FAKE_CF_METRICS=off"} << 1 << 1 << true << QList<int>{} << QString();
        QTest::newRow("box in a new layout: /quicktunnel alone")
            << QStringList{"FAKE_CF_BOX=unknown"} << 1 << 1 << false << QList<int>{1} << fakeUrl;
    }

    void witnessBesideTheLog() {
        QFETCH(QStringList, env);
        QFETCH(int, registrations);
        QFETCH(QList<int>, ready);
        ClientMetrics metrics(&m_network, fast), neighbours(&m_network, fast);
        QList<int> seen;
        connect(&metrics, &ClientMetrics::changed, this, [&] {
            if (const auto now = metrics.readyConnections();
                now && (seen.isEmpty() || seen.last() != *now))
                seen << *now;
        });
        Child child(metrics, metrics.launchArguments(), env);
        // Another tunnel at the same time, on an address of its own.
        Child neighbour(neighbours, neighbours.launchArguments(), {"FAKE_CF_LABEL=next-door"});
        QVERIFY(neighbours.port() != metrics.port());
        metrics.setPolling(true);
        neighbours.setPolling(true);
        QTRY_VERIFY_WITH_TIMEOUT(child.text.count("protocol=quic\n") == registrations, slow);
        // Asked again since the last line: what the client serves now has been heard.
        QSignalSpy answers(&m_network, &QNetworkAccessManager::finished);
        QTRY_VERIFY(answers.count() >= 4);
        QTRY_COMPARE_WITH_TIMEOUT(seen, ready, slow);
        QTEST(child.log.connections(), "logConnections");
        QTEST(child.logUrl, "logUrl");
        QTEST(metrics.tunnelURL().value_or(QString()), "url");
        QTRY_COMPARE(neighbours.tunnelURL().value_or(QString()),
                     QStringLiteral("https://next-door.trycloudflare.com"));
    }

    // Taken between the pick and the launch: the client ends at once, and the tunnel launches
    // again on another port without a word.
    void addressTakenIsRecognised_data() {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<bool>("couldNotBind");
        QTest::newRow("2026: failed to bind to address")
            << QStringList{"FAKE_CF_VERSION=2026"} << true;
        QTest::newRow("2023.7: listen tcp") << QStringList{"FAKE_CF_VERSION=2023.7"} << true;
        QTest::newRow("another end: no internet")
            << QStringList{"FAKE_CF_MODE=api-failure"} << false;
    }

    void addressTakenIsRecognised() {
        QFETCH(QStringList, env);
        ClientMetrics metrics(&m_network, fast);
        const QStringList arguments = metrics.launchArguments();
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, metrics.port()));
        Child child(metrics, arguments, env);
        QVERIFY(child.process.waitForFinished(slow));
        QCOMPARE(child.process.exitCode(), 1);
        child.log.feed(child.process.readAllStandardError());
        child.log.finish();
        QTEST(metrics.couldNotBind(child.log.exitProblem().line), "couldNotBind");
    }
};

QTEST_GUILESS_MAIN(TestClientMetrics)
#include "tst_clientmetrics.moc"
