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

// A child launched with the witness's arguments, its log read as a tunnel reads it: when the
// log's count of connections changes, the witness is asked at once.
struct Child {
    QProcess process;
    ClientLogClassifier log;
    QByteArray text;
    bool logUrl = false;

    Child(ClientMetrics& metrics, const QStringList& metricsArgs, const QByteArrayList& env) {
        QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
        for (const QByteArray& pair : env)
            vars.insert(QString::fromUtf8(pair.first(pair.indexOf('='))),
                        QString::fromUtf8(pair.sliced(pair.indexOf('=') + 1)));
        process.setProcessEnvironment(vars);
        process.start(fakeClientPath(),
                      QStringList{QStringLiteral("tunnel"), QStringLiteral("--url"),
                                  QStringLiteral("http://127.0.0.1:%1").arg(closedPort())} +
                          metricsArgs);
        QObject::connect(&process, &QProcess::readyReadStandardError, &process, [this, &metrics] {
            const QByteArray chunk = process.readAllStandardError();
            const int connections = log.connections();
            text += chunk;
            logUrl |= log.feed(chunk).has_value();
            if (log.connections() != connections)
                metrics.ask();
        });
    }
    ~Child() {
        process.kill();
        process.waitForFinished();
    }
    // The line a tunnel reads at a failed exit.
    QString exitLine() {
        process.waitForFinished(slow);
        log.feed(process.readAllStandardError());
        log.finish();
        return log.exitProblem().line;
    }
};

} // namespace

class TestClientMetrics : public QObject {
    Q_OBJECT

    QNetworkAccessManager m_network;

private slots:
    void init() { qputenv("FAKE_CF_INTERVAL_MS", "200"); }

    void witnessBesideTheLog_data() {
        QTest::addColumn<QByteArrayList>("env");
        QTest::addColumn<int>("registrations"); // lines the child prints before it runs on
        QTest::addColumn<int>("logConnections");
        QTest::addColumn<bool>("logUrl");
        QTest::addColumn<QList<int>>("ready"); // readyConnections, each change
        QTest::addColumn<bool>("metricsUrl");
        QTest::newRow("known lines: both agree")
            << QByteArrayList{} << 1 << 1 << true << QList<int>{1} << true;
        QTest::newRow("registration worded anew: /ready alone")
            << QByteArrayList{"FAKE_CF_WORDING=unknown"} << 1 << 0 << true << QList<int>{1} << true;
        QTest::newRow("connections gone without a line: /ready alone")
            << QByteArrayList{"FAKE_CF_MODE=vanish"} << 1 << 1 << true << QList<int>{1, 0} << true;
        QTest::newRow("lost and back within the blip: no fall")
            << QByteArrayList{"FAKE_CF_MODE=lost", "FAKE_CF_OUTAGE_MS=500"} << 2 << 1 << true
            << QList<int>{1} << true;
        QTest::newRow("no metrics server: the log alone")
            << QByteArrayList{"FAKE_CF_METRICS=off"} << 1 << 1 << true << QList<int>{} << false;
        QTest::newRow("box in a new layout: /quicktunnel alone")
            << QByteArrayList{"FAKE_CF_BOX=unknown"} << 1 << 1 << false << QList<int>{1} << true;
    }

    void witnessBesideTheLog() {
        QFETCH(QByteArrayList, env);
        QFETCH(int, registrations);
        QFETCH(QList<int>, ready);
        QFETCH(bool, metricsUrl);
        ClientMetrics metrics(&m_network, fast);
        QList<int> seen;
        connect(&metrics, &ClientMetrics::changed, this, [&] {
            if (metrics.readyConnections() &&
                (seen.isEmpty() || seen.last() != *metrics.readyConnections()))
                seen << *metrics.readyConnections();
        });
        Child child(metrics, metrics.launchArguments(), env);
        metrics.setPolling(true);
        QTRY_VERIFY_WITH_TIMEOUT(child.text.count("protocol=quic\n") == registrations, slow);
        // Asked again since the last line: what the client serves now has been heard.
        QSignalSpy answers(&m_network, &QNetworkAccessManager::finished);
        QTRY_VERIFY(answers.count() >= 4);
        QTRY_COMPARE_WITH_TIMEOUT(seen, ready, slow);
        QTEST(child.log.connections(), "logConnections");
        QTEST(child.logUrl, "logUrl");
        QCOMPARE(metrics.tunnelURL(),
                 metricsUrl ? std::optional(QStringLiteral(
                                  "https://fare-write-waste-gadgets.trycloudflare.com"))
                            : std::nullopt);
        metrics.stop();
        QCOMPARE(metrics.readyConnections(), std::nullopt);
    }

    void twoChildrenTwoAddresses() {
        ClientMetrics first(&m_network, fast), second(&m_network, fast);
        Child one(first, first.launchArguments(), {"FAKE_CF_LABEL=first-of-two"});
        Child two(second, second.launchArguments(), {"FAKE_CF_LABEL=second-of-two"});
        QVERIFY(first.port() != second.port());
        first.setPolling(true);
        second.setPolling(true);
        QTRY_COMPARE_WITH_TIMEOUT(first.tunnelURL().value_or(QString()),
                                  QStringLiteral("https://first-of-two.trycloudflare.com"), slow);
        QTRY_COMPARE_WITH_TIMEOUT(second.tunnelURL().value_or(QString()),
                                  QStringLiteral("https://second-of-two.trycloudflare.com"), slow);
    }

    // Taken between the pick and the launch: the client ends at once, and the tunnel launches
    // again on another port without a word.
    void addressTakenIsRecognised_data() {
        QTest::addColumn<QByteArrayList>("env");
        QTest::addColumn<bool>("couldNotBind");
        QTest::newRow("2026: failed to bind to address")
            << QByteArrayList{"FAKE_CF_VERSION=2026"} << true;
        QTest::newRow("2023.7: listen tcp") << QByteArrayList{"FAKE_CF_VERSION=2023.7"} << true;
        QTest::newRow("another end: no internet")
            << QByteArrayList{"FAKE_CF_MODE=api-failure"} << false;
    }

    void addressTakenIsRecognised() {
        QFETCH(QByteArrayList, env);
        ClientMetrics metrics(&m_network, fast);
        const QStringList arguments = metrics.launchArguments();
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, metrics.port()));
        Child child(metrics, arguments, env);
        QTEST(metrics.couldNotBind(child.exitLine()), "couldNotBind");
        QCOMPARE(child.process.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(TestClientMetrics)
#include "tst_clientmetrics.moc"
