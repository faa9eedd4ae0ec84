// Which tunnels a name, a port or an id stands for, and in which precedence.
#include "model/TunnelLookup.h"

#include <QTest>

namespace {

// The ids are fixed so that prefixes can be written down. The fourth is named after the
// fifth's whole id.
QList<TunnelConfig> tunnels() {
    auto tunnel = [](const char* id, const char* name, qint64 port) {
        return TunnelConfig{QUuid::fromString(QLatin1String(id)), QString::fromUtf8(name), port};
    };
    return {tunnel("32BA5DAB-D870-4733-9D3A-CA496A3895C4", "web", 3000),
            tunnel("9F3A0C11-0000-4000-8000-000000000001", "dup", 3002),
            tunnel("9F3A0C11-1111-4000-8000-000000000002", "dup", 3003),
            tunnel("5E0F77A1-0000-4000-8000-000000000003", "D00DFEED-0000-4000-8000-000000000004",
                   3000),
            tunnel("D00DFEED-0000-4000-8000-000000000004", "8080", 4000)};
}

} // namespace

class TestTunnelLookup : public QObject {
    Q_OBJECT

private slots:
    void lookUp_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qsizetype>>("expected");
        using L = QList<qsizetype>;
        QTest::newRow("name") << "web" << L{0};
        QTest::newRow("name, spaces and tabs around") << " \tweb " << L{0};
        QTest::newRow("name is case-sensitive") << "Web" << L{};
        QTest::newRow("name shared") << "dup" << L{1, 2};
        QTest::newRow("port") << "3003" << L{2};
        QTest::newRow("port with a plus") << "+3003" << L{2};
        QTest::newRow("port shared") << "3000" << L{0, 3};
        QTest::newRow("name of digits, no such port") << "8080" << L{4};
        QTest::newRow("whole id") << "32BA5DAB-D870-4733-9D3A-CA496A3895C4" << L{0};
        QTest::newRow("whole id, braces, lower case")
            << "{32ba5dab-d870-4733-9d3a-ca496a3895c4}" << L{0};
        QTest::newRow("whole id wins over an earlier name")
            << "D00DFEED-0000-4000-8000-000000000004" << L{4};
        QTest::newRow("id prefix of 8, lower case") << "d00dfeed" << L{4};
        QTest::newRow("id prefix with a hyphen") << "9F3A0C11-1" << L{2};
        QTest::newRow("id prefix shared") << "9F3A0C11" << L{1, 2};
        QTest::newRow("7 digits are no id") << "32BA5DA" << L{};
        QTest::newRow("not hex") << "32BA5DAX" << L{};
        QTest::newRow("empty") << "" << L{};
    }

    void lookUp() {
        QFETCH(QString, text);
        QFETCH(QList<qsizetype>, expected);
        QCOMPARE(lookUpTunnels(tunnels(), text), expected);
    }
};

QTEST_GUILESS_MAIN(TestTunnelLookup)
#include "tst_tunnellookup.moc"
