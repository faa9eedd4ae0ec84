// The persisted record, the saved-list format and the port text rule.
#include "model/PortText.h"
#include "model/TunnelConfig.h"

#include <QJsonDocument>
#include <QTest>

class TestValues : public QObject {
    Q_OBJECT

private slots:
    void recordRoundTripsThroughJson() {
        for (qint64 port : {qint64(8080), std::numeric_limits<qint64>::min(),
                            std::numeric_limits<qint64>::max()}) {
            const TunnelConfig record = TunnelConfig::create(QString(), port);
            QCOMPARE(decodeTunnelConfigs(encodeTunnelConfigs({record})).value(), QList{record});
        }
        const TunnelConfig config = TunnelConfig::create(QStringLiteral("Wéb ✓"), 8080);
        QCOMPARE(TunnelConfig::fromJson(config.toJson()).value(), config);

        const QString idText = config.toJson().value(QStringLiteral("id")).toString();
        QCOMPARE(idText.size(), 36);
        QCOMPARE(idText, idText.toUpper());
        QVERIFY(!idText.startsWith(QLatin1Char('{')));

        // "é" precomposed and decomposed are the same name.
        TunnelConfig precomposed = config, decomposed = config;
        precomposed.name = QString::fromUtf8("caf\xc3\xa9");
        decomposed.name = QString::fromUtf8("cafe\xcc\x81");
        QVERIFY(precomposed == decomposed && qHash(precomposed) == qHash(decomposed));
    }

    void decodingRequiresEveryKeyWithItsType_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        const QByteArray id = "\"id\":\"5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11\"";
        QTest::newRow("complete") << "{" + id + ",\"name\":\"a\",\"port\":1}" << true;
        QTest::newRow("keys in another order, extra key")
            << "{\"port\":1,\"extra\":[1],\"name\":\"a\"," + id + "}" << true;
        QTest::newRow("lower-case id")
            << QByteArray(
                   "{\"id\":\"5b4e2e1c-6a43-4f77-9d0b-3c2f7a9e8d11\",\"name\":\"a\",\"port\":1}")
            << true;
        QTest::newRow("no id") << QByteArray("{\"name\":\"a\",\"port\":1}") << false;
        QTest::newRow("no name") << "{" + id + ",\"port\":1}" << false;
        QTest::newRow("no port") << "{" + id + ",\"name\":\"a\"}" << false;
        QTest::newRow("port as text") << "{" + id + ",\"name\":\"a\",\"port\":\"1\"}" << false;
        QTest::newRow("name as number") << "{" + id + ",\"name\":1,\"port\":1}" << false;
        QTest::newRow("fractional port") << "{" + id + ",\"name\":\"a\",\"port\":1.5}" << false;
        QTest::newRow("port beyond 64 bits")
            << "{" + id + ",\"name\":\"a\",\"port\":9223372036854775808}" << false;
        QTest::newRow("braced id")
            << QByteArray(
                   "{\"id\":\"{5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11}\",\"name\":\"a\",\"port\":1}")
            << false;
        QTest::newRow("not a uuid")
            << QByteArray(
                   "{\"id\":\"5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8DZZ\",\"name\":\"a\",\"port\":1}")
            << false;
        QTest::newRow("null port") << "{" + id + ",\"name\":\"a\",\"port\":null}" << false;
        QTest::newRow("inspect as text, read as off")
            << "{" + id + ",\"name\":\"a\",\"port\":1,\"inspect\":\"yes\"}" << true;
    }

    void decodingRequiresEveryKeyWithItsType() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        const auto config = TunnelConfig::fromJson(QJsonDocument::fromJson(json).object());
        QCOMPARE(bool(config), decodes);
        // One bad record spoils the whole list.
        const auto list = decodeTunnelConfigs("[" + json + "]");
        QCOMPARE(bool(list), decodes);
    }

    void listIsCompactAndKeepsOrder() {
        QList<TunnelConfig> configs{TunnelConfig::create(QStringLiteral("a"), 1),
                                    TunnelConfig::create(QStringLiteral("b"), 2)};
        configs[1].inspect = true;      // saved only where on
        configs[0].password = true;     // saved only where on
        configs[1].rewriteHost = false; // saved only where off
        const QByteArray saved = encodeTunnelConfigs(configs);
        QVERIFY(!saved.contains('\n') && !saved.contains(": "));
        QCOMPARE(saved.count("\"inspect\":true"), 1);
        QCOMPARE(saved.count("\"password\""), 1);
        QCOMPARE(saved.count("\"rewriteHost\":false"), 1);
        QVERIFY(!saved.contains("\"rewriteHost\":true"));
        QCOMPARE(*decodeTunnelConfigs(saved), configs);
        const auto decoded = *decodeTunnelConfigs(saved);
        QVERIFY(!decoded.at(0).inspect && decoded.at(1).inspect);
        QVERIFY(decoded.at(0).password && !decoded.at(1).password);
        QVERIFY(decoded.at(0).rewriteHost && !decoded.at(1).rewriteHost);
        QCOMPARE(decodeTunnelConfigs("[]")->size(), 0);
        QVERIFY(!decodeTunnelConfigs("{}"));
        QVERIFY(!decodeTunnelConfigs("not json"));
    }

    void portText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("port"); // 0: rejected
        QTest::newRow("plain") << "3000" << qint64(3000);
        QTest::newRow("plus sign") << "+8080" << qint64(8080);
        QTest::newRow("leading zero") << "08080" << qint64(8080);
        QTest::newRow("lowest") << "1" << qint64(1);
        QTest::newRow("highest") << "65535" << qint64(65535);
        QTest::newRow("zero") << "0" << qint64(0);
        QTest::newRow("negative") << "-1" << qint64(0);
        QTest::newRow("above range") << "65536" << qint64(0);
        QTest::newRow("space before") << " 8080" << qint64(0);
        QTest::newRow("space after") << "8080 " << qint64(0);
        QTest::newRow("letter") << "80a" << qint64(0);
        QTest::newRow("lone plus") << "+" << qint64(0);
        QTest::newRow("two signs") << "+-80" << qint64(0);
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("25 digits") << "1234567890123456789012345" << qint64(0);
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\xd9\xa8\xd9\xa0") << qint64(0);
        QTest::newRow("fullwidth digits")
            << QString::fromUtf8("\xef\xbc\x98\xef\xbc\x90") << qint64(0);
    }

    void portText() {
        QFETCH(QString, text);
        QFETCH(qint64, port);
        const auto parsed = parsePortText(text);
        QCOMPARE(parsed.value_or(0), port);
    }
};

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
