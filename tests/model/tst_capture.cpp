// The inspector's model parts in process: the filter, the byte bound of the log, how bodies
// read.
#include "model/ExchangeText.h"
#include "model/RequestFilter.h"
#include "model/RequestLog.h"

#include <QSignalSpy>
#include <QTest>

namespace {

HttpExchange exchange(quint64 id, const char* method, const char* target, int status,
                      HttpExchange::Headers headers = {}, QByteArray requestBody = {},
                      QByteArray responseBody = {}) {
    return {.id = id,
            .method = method,
            .target = target,
            .requestHeaders = std::move(headers),
            .requestBody = requestBody,
            .status = status,
            .responseBody = responseBody};
}

QList<HttpExchange> sample() {
    return {
        exchange(1, "GET", "/index.html?lang=de", 200, {{"Accept", "text/html"}}),
        exchange(2, "POST", "/hooks/stripe", 201, {{"Stripe-Signature", "t=1,v1=ab"}},
                 "{\"type\":\"invoice.paid\"}"),
        exchange(3, "GET", "/old", 301, {}, {}, "Moved"),
        exchange(4, "DELETE", "/items/404", 404),
        exchange(5, "PUT", "/upload", 500, {}, QByteArray("\x00\xff\xfe Caf\xc3\xa9", 9),
                 "Internal Error"),
        exchange(6, "GET", "/never", 0),
    };
}

} // namespace

class CaptureTest : public QObject {
    Q_OBJECT

private slots:
    void filterNarrows_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("classes");
        QTest::addColumn<QList<quint64>>("shown");
        using F = RequestFilter;
        QTest::newRow("empty") << "" << 0 << QList<quint64>{1, 2, 3, 4, 5, 6};
        QTest::newRow("method, any case") << "delete" << 0 << QList<quint64>{4};
        QTest::newRow("status or path") << "404" << 0 << QList<quint64>{4};
        QTest::newRow("header name") << "stripe-signature" << 0 << QList<quint64>{2};
        QTest::newRow("request body") << "invoice.PAID" << 0 << QList<quint64>{2};
        QTest::newRow("response body") << "internal" << 0 << QList<quint64>{5};
        QTest::newRow("non-ASCII in a binary body") << "CAFÉ" << 0 << QList<quint64>{5};
        QTest::newRow("spaces around, response body") << "  moved " << 0 << QList<quint64>{3};
        QTest::newRow("2xx") << "" << int(F::Success) << QList<quint64>{1, 2};
        QTest::newRow("4xx and 5xx")
            << "" << int(F::ClientError | F::ServerError) << QList<quint64>{4, 5};
        QTest::newRow("3xx and text") << "old" << int(F::Redirection) << QList<quint64>{3};
        QTest::newRow("text outside the class") << "upload" << int(F::Success) << QList<quint64>{};
    }
    void filterNarrows() {
        QFETCH(QString, text);
        QFETCH(int, classes);
        RequestFilter filter;
        filter.setText(text);
        filter.setStatusClasses(classes);
        QList<quint64> shown;
        for (const HttpExchange& e : sample())
            if (filter.matches(e))
                shown.append(e.id);
        QTEST(shown, "shown");
    }

    // Few large entries and many small ones both stay within the budget; the newest stay.
    void logIsBoundedByBytes() {
        for (auto [bodyBytes, count] :
             {std::pair{int(HttpExchange::bodyCaptureLimit), 200}, {100, 2000}}) {
            RequestLog log;
            QSignalSpy dropped(&log, &RequestLog::droppedCountChanged);
            for (int i = 1; i <= count; i += 10) {
                QList<HttpExchange> batch;
                for (int id = i; id < i + 10; ++id)
                    batch.append(exchange(quint64(id), "POST", "/", 200, {{"A", "b"}},
                                          QByteArray(bodyBytes, 'q'), QByteArray(bodyBytes, 'r')));
                log.append(batch);
                QVERIFY(log.heldBytes() <= RequestLog::byteBudget);
                QVERIFY(log.rowCount() <= RequestLog::capacity);
            }
            QCOMPARE(log.exchangeAt(0).id, quint64(count));
            QCOMPARE(log.exchangeAt(log.rowCount() - 1).id, quint64(count - log.rowCount() + 1));
            QCOMPARE(dropped.last()[0].toLongLong(), count - log.rowCount());
            QVERIFY(log.rowCount() > (bodyBytes > 1000 ? 25 : RequestLog::capacity - 1));
            log.clear();
            QCOMPARE(log.heldBytes(), 0);
            QCOMPARE(dropped.last()[0].toLongLong(), 0);
        }
    }

    void bodiesRead_data() {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        auto row = [](const char* name, const char* type, const char* body, const char* shown) {
            QTest::newRow(name) << QByteArray(type) << QByteArray(body) << QString(shown);
        };
        row("JSON", "application/json", "{\"a\":[1,2]}",
            "{\n    \"a\": [\n        1,\n        2\n    ]\n}\n");
        row("invalid JSON, as sent, where it breaks", "application/json; charset=utf-8",
            "{\"a\": 1,\n \"b\" 2}",
            "Not valid JSON: missing name separator at line 2, column 7\n\n{\"a\": 1,\n \"b\" 2}");
        row("problem+json", "application/problem+json", "[1,",
            "Not valid JSON: unterminated array at line 1, column 4\n\n[1,");
        row("XML", "application/xml", "<?xml version=\"1.0\"?><a x=\"1\"><b>t</b><c/></a>",
            "<a x=\"1\">\n  <b>t</b>\n  <c/>\n</a>\n");
        row("XML by its declaration", "text/plain", "<?xml version=\"1.0\"?><a><b/></a>",
            "<a>\n  <b/>\n</a>\n");
        row("invalid XML, as sent", "text/xml", "<a>\n<b></a>",
            "Not well-formed XML: Opening and ending tag mismatch at line 2, column "
            "7\n\n<a>\n<b></a>");
        row("form", "application/x-www-form-urlencoded", "name=J%C3%BCrgen+M&empty=&x=%26",
            "name = Jürgen M\nempty = \nx = &\n");
        row("HTML stays as sent", "text/html", "<p>hi<br></p>", "<p>hi<br></p>");
    }
    void bodiesRead() {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        QTEST(ExchangeText::body(body, type, body.size()), "shown");
    }
};

QTEST_GUILESS_MAIN(CaptureTest)
#include "tst_capture.moc"
