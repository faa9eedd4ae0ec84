// Reading the client's lines for its connections and problems, whatever the read boundaries.
#include "model/ClientLogClassifier.h"

#include <QTest>

namespace {

const QByteArray at = "2026-12-06T19:10:57Z ";
const QByteArray registered = at + "INF Registered tunnel connection connIndex=%1 event=0\n";
const QByteArray lost = at + "INF Unregistered tunnel connection connIndex=%1 event=0\n";
const QByteArray lookup =
    at + "ERR edge discovery: error looking up Cloudflare edge IPs: the DNS query failed\n";
const QByteArray quicTimeout = at + "ERR Failed to dial a quic connection error=\"failed to dial "
                                    "to edge with quic: timeout: no recent network activity\"\n";
const QByteArray tcpTimeout = at + "ERR Unable to establish connection with Cloudflare edge "
                                   "error=\"DialContext error: dial tcp 198.41.200.63:7844: i/o "
                                   "timeout\" connIndex=0\n";
QByteArray conn(const QByteArray& line, int index) {
    return QByteArray(line).replace("%1", QByteArray::number(index));
}

} // namespace

class TestClientLog : public QObject {
    Q_OBJECT

private slots:
    void readsConnectionsAndTheLatestProblem_data() {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("connections");
        QTest::addColumn<QString>("problem");     // while running
        QTest::addColumn<QString>("exitProblem"); // for a failed exit
        const QString unreachable = QStringLiteral(
            "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked");
        QTest::newRow("lookup, then time-outs: the latest wins")
            << lookup + quicTimeout << 0 << unreachable << unreachable;
        QTest::newRow("over TCP") << tcpTimeout << 0 << unreachable << unreachable;
        QTest::newRow("registration answers an edge problem")
            << quicTimeout + conn(registered, 0) << 1 << QString() << QString();
        QTest::newRow("four registered, three lost")
            << conn(registered, 0) + conn(registered, 1) + conn(registered, 2) +
                   conn(registered, 3) + conn(lost, 1) + conn(lost, 2) + conn(lost, 3)
            << 1 << QString() << QString();
        QTest::newRow("every connection lost")
            << conn(registered, 0) + conn(registered, 2) + conn(lost, 0) + conn(lost, 2) << 0
            << QString() << QString();
        QTest::newRow("an unknown last line, trimmed")
            << at + "INF Starting metrics server\n" + "panic:   something   odd\r\n"
            << 0 << QString() << QStringLiteral("panic: something odd");
    }

    void readsConnectionsAndTheLatestProblem() {
        QFETCH(QByteArray, output);
        QFETCH(int, connections);
        QFETCH(QString, problem);
        QFETCH(QString, exitProblem);
        // Every split point: a line cut in two must read as the whole line.
        for (qsizetype cut = 0; cut <= output.size(); cut += 7) {
            ClientLogClassifier reader;
            reader.feed(QByteArrayView(output).first(cut));
            reader.feed(QByteArrayView(output).sliced(cut));
            QCOMPARE(reader.connections(), connections);
            reader.finish();
            QCOMPARE(reader.problem().text(), problem);
            QCOMPARE(reader.exitProblem().text(), exitProblem);
        }
    }
};

QTEST_APPLESS_MAIN(TestClientLog)
#include "tst_clientlog.moc"
