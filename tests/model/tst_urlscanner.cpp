// Finding the public URL in the client's standard error, whatever the read boundaries.
#include "model/TunnelUrlScanner.h"

#include <QTest>

namespace {

const QByteArray url = "https://fare-write-waste-gadgets.trycloudflare.com";
const QByteArray boxLine =
    "2026-01-01T00:00:01Z INF |  " + url + "                                        |\n";
const QByteArray apiFailure =
    "failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": dial tcp: "
    "lookup api.trycloudflare.com: no such host\n";

} // namespace

class TestUrlScanner : public QObject {
    Q_OBJECT

private slots:
    void findsTheUrlAtEverySplitPoint() {
        const QByteArray output = "2026-01-01T00:00:00Z INF Requesting new quick Tunnel on "
                                  "trycloudflare.com...\n" +
                                  boxLine + "INF more\n";
        for (qsizetype cut = 0; cut <= output.size(); ++cut) {
            TunnelUrlScanner scanner;
            auto first = scanner.feed(QByteArrayView(output).first(cut));
            auto second = scanner.feed(QByteArrayView(output).sliced(cut));
            const auto found = first ? first : second;
            QVERIFY2(found && *found == QString::fromLatin1(url), qPrintable(QString::number(cut)));
            QVERIFY(!(first && second));
        }
    }

    void findsTheUrlFedOneByteAtATime() {
        TunnelUrlScanner scanner;
        std::optional<QString> found;
        const QByteArray line = "INF caf\xc3\xa9 " + url + "\n";
        for (char c : line) {
            if (auto url = scanner.feed(QByteArrayView(&c, 1)))
                found = url;
        }
        QCOMPARE(found.value_or(QString()), QString::fromLatin1(url));
    }

    void neverTakesTheServiceApiHost() {
        TunnelUrlScanner scanner;
        QVERIFY(!scanner.feed(apiFailure));
        QVERIFY(!scanner.finish());
        // The API host before a real URL on the same line does not hide it.
        QCOMPARE(*TunnelUrlScanner::scanLine("Post https://api.trycloudflare.com then " + url),
                 QString::fromLatin1(url));
        QVERIFY(!TunnelUrlScanner::scanLine("https://API.trycloudflare.com"));
        QVERIFY(TunnelUrlScanner::scanLine("https://api-7.trycloudflare.com"));
        for (const char* lookAlike :
             {"http://plain.trycloudflare.com", "https://a_b.trycloudflare.com",
              "https://x.trycloudflareXcom"})
            QVERIFY(!TunnelUrlScanner::scanLine(lookAlike));
    }

    void firstUrlOfAChunkWins() {
        TunnelUrlScanner scanner;
        const auto found =
            scanner.feed("https://one.trycloudflare.com https://two.trycloudflare.com\n"
                         "https://three.trycloudflare.com\n");
        QCOMPARE(found.value_or(QString()), QStringLiteral("https://one.trycloudflare.com"));
    }

    void invalidUtf8SpoilsOnlyItsOwnLine() {
        TunnelUrlScanner scanner;
        QVERIFY(!scanner.feed("bad \xff\xfe " + url + "\n"));
        QCOMPARE(scanner.feed("good " + url + "\n").value_or(QString()), QString::fromLatin1(url));
    }

    void lastLineWithoutBreakIsScannedAtTheEnd() {
        TunnelUrlScanner scanner;
        QVERIFY(!scanner.feed("INF " + url));
        QCOMPARE(scanner.finish().value_or(QString()), QString::fromLatin1(url));
        QCOMPARE(scanner.pendingSize(), 0);
    }

    void pendingLineIsBounded() {
        TunnelUrlScanner scanner;
        const QByteArray block(4096, 'x');
        for (int i = 0; i < 1024; ++i) { // 4 MiB without a line break
            scanner.feed(block);
            QVERIFY(scanner.pendingSize() <= TunnelUrlScanner::maxPendingLine);
        }
        // An over-long line is still scanned before it is dropped.
        QByteArray longLine(TunnelUrlScanner::maxPendingLine - 10, 'y');
        longLine += " " + url + " " + QByteArray(100, 'z');
        TunnelUrlScanner second;
        std::optional<QString> found;
        for (qsizetype at = 0; at < longLine.size(); at += 1000)
            if (auto u = second.feed(QByteArrayView(longLine).sliced(
                    at, std::min<qsizetype>(1000, longLine.size() - at))))
                found = u;
        QCOMPARE(found.value_or(QString()), QString::fromLatin1(url));
        // And the scanner goes on with the next line.
        second.feed("\n");
        QCOMPARE(second.feed("x https://next.trycloudflare.com\n").value_or(QString()),
                 QStringLiteral("https://next.trycloudflare.com"));
    }
};

QTEST_GUILESS_MAIN(TestUrlScanner)
#include "tst_urlscanner.moc"
