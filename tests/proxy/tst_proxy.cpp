// The gateway while it captures, between real clients (curl, raw sockets) and a real origin
// server (origin.py), each on an ephemeral loopback port; and what the inspector makes of the
// captures: curl commands run by a real shell, replays as captured and as edited, HAR files read
// back. WebSocket relaying is in tst_websocket.
#include "TestSupport.h"
#include "model/CurlCommand.h"
#include "model/HarWriter.h"
#include "model/RequestLog.h"
#include "proxy/Gateway.h"
#include "ui/RequestEditorDialog.h"
#include "ui/RequestsWindow.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// What the origin saw of a request (method, path, header fields in order), from /echo's X-Echo.
QByteArray echoOf(const HttpExchange& exchange) {
    return QByteArray::fromBase64(HttpExchange::value(exchange.responseHeaders, "X-Echo"));
}

// What a replay must keep: method, target, status, header fields (names in any case, in any
// order; the body's framing only when asked) and bodies.
QByteArray summary(const HttpExchange& e, bool framing = true) {
    QList<QByteArray> lines{e.method + ' ' + e.target + ' ' + QByteArray::number(e.status),
                            e.requestBody.toHex(), e.responseBody.toHex()};
    for (const auto& [name, value] : e.requestHeaders)
        if (framing ||
            !QList<QByteArray>{"content-length", "transfer-encoding"}.contains(name.toLower()))
            lines.append(name.toLower() + ": " + value);
    std::sort(lines.begin() + 3, lines.end());
    return lines.join('\n');
}

QByteArray run(const QString& program, const QStringList& args, QByteArray* err = nullptr) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120000);
    if (err)
        *err = process.readAllStandardError();
    return process.readAllStandardOutput();
}

// One curl run: curl's standard output exactly, a part of its -v trace, the last captured
// exchange's status, a part of the origin's view of the request.
struct Curl {
    QStringList args;
    QByteArray out, errContains;
    int status;
    QByteArray originSaw;
};

} // namespace
Q_DECLARE_METATYPE(Curl)

class ProxyTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_origin; // killed with the test
    quint16 m_originPort = 0;
    Gateway m_proxy;
    QList<HttpExchange> m_seen;
    QByteArray m_binary; // every byte value, CR LF and NUL included, twice
    const QByteArray m_text = "{\"it's\": \"100% \\\"quoted\\\" $HOME `id`\",\n\t\"é\": 1}";

    QString url(const QString& path) const {
        return u"http://127.0.0.1:%1%2"_s.arg(m_proxy.port()).arg(path);
    }
    QString file(const QString& name, const QByteArray& bytes) {
        TestSupport::writeFile(m_dir.filePath(name), bytes);
        return m_dir.filePath(name);
    }
    // The captures of the requests curl sends, once the last one's, `last`, is among them;
    // earlier ones were handed over before it.
    QList<HttpExchange> curl(const QStringList& args, const QByteArray& last, qsizetype count) {
        run("curl", QStringList{"-s"} + args);
        // Not there in time: the caller's comparison says what is missing.
        (void)QTest::qWaitFor([&] { return !m_seen.isEmpty() && m_seen.last().target == last; },
                              10000);
        const QList<HttpExchange> seen = std::exchange(m_seen, {});
        return seen.mid(seen.size() - count);
    }

private slots:
    void initTestCase() {
        m_origin.start("/usr/bin/python3", {QUILLBY_PROXY_ORIGIN});
        while (!m_origin.canReadLine())
            QVERIFY(m_origin.waitForReadyRead(10000));
        m_originPort = quint16(m_origin.readLine().mid(5).trimmed().toUInt());
        m_proxy.setCapture(true);
        m_proxy.setRewriteHost(false); // the requests exactly as curl sends them
        QVERIFY(m_proxy.start(m_originPort));
        connect(&m_proxy, &Gateway::exchangesCaptured, this,
                [this](const QList<HttpExchange>& batch) { m_seen += batch; });
        for (int byte = 0; byte < 256; ++byte)
            m_binary.append(char(byte));
        m_binary += "'\\%s%%\\n" + m_binary;
    }

    // Each relayed and captured whole; then the inspector's curl command for the capture, run
    // by sh from a file (a long command is more than one argument holds), and the gateway's
    // replay send the same again.
    void exchanges_data() {
        QTest::addColumn<Curl>("c");
        const auto row = [](const char* tag, const QStringList& args, const QByteArray& out = {},
                            const char* err = "", int status = 200, const QByteArray& saw = {}) {
            QTest::newRow(tag) << Curl{args, out, err, status, saw};
        };
        const QString echo = url("/echo"), binary = '@' + file("binary", m_binary);
        const QByteArray length = "\"Content-Length\", \"" + QByteArray::number(m_binary.size());
        row("POST binary", {echo, "--data-binary", binary}, m_binary, "", 200, length);
        row("PUT text with shell characters",
            {"-X", "PUT", "-H", "Content-Type: application/json", echo, "--data-binary",
             '@' + file("text", m_text)},
            m_text);
        row("body that looks like a file name", {echo, "--data-raw", "@/etc/hos"}, "@/etc/hos");
        const QByteArray longText(200000, 'x');
        row("long text body", {echo, "--data-binary", '@' + file("long", longText)}, longText);
        row("no User-Agent, no Accept, empty field, repeated field",
            {"-H", "User-Agent:", "-H", "Accept:", "-H", "X-Empty;", "-H", "X-Twice: 1", "-H",
             "X-Twice: 2", echo},
            {}, "", 200, "[\"X-Empty\", \"\"], [\"X-Twice\", \"1\"], [\"X-Twice\", \"2\"]");
        row("path with brackets, braces and dot segments",
            {"-g", "--path-as-is", "-X", "DELETE", url("/a/../echo/./x?q=[1]&r={2}")}, "not here\n",
            "", 404);
        row("Host as sent", {"-H", "Host: quiet-river.trycloudflare.com", echo}, {}, "", 200,
            "\"Host\", \"quiet-river.trycloudflare.com\"");
        row("chunked request",
            {"-X", "PATCH", "-H", "Transfer-Encoding: chunked", echo, "--data-binary", binary},
            m_binary, "", 200, "\"Transfer-Encoding\", \"chunked\"");
        row("chunked response", {url("/chunked?n=3")}, "chunk 0\nchunk 1\nchunk 2\n",
            "< Transfer-Encoding: chunked");
        row("Expect 100-continue", {"-H", "Expect: 100-continue", echo, "--data-binary", binary},
            m_binary, "< HTTP/1.1 100 Continue");
        row("HEAD", {"-I", echo}, {}, "< Content-Length: 1234");
        row("keep-alive", {url("/echo?first"), url("/echo?second")}, {},
            "Re-using existing connection", 200, "/echo?second");
    }
    void exchanges() {
        QFETCH(Curl, c);
        m_seen.clear();
        QByteArray err;
        const QByteArray got = run("curl", QStringList{"-sv"} + c.args, &err);
        const bool head = c.args.contains("-I");
        if (!head)
            QCOMPARE(got, c.out);
        QVERIFY(err.contains(c.errContains));
        QTRY_COMPARE(m_seen.size(), int(c.args.filter(QRegularExpression("^http://")).size()));
        const HttpExchange captured = m_seen.last();
        QCOMPARE(captured.method, err.mid(err.indexOf("> ") + 2).split(' ')[0]);
        QCOMPARE(captured.status, c.status);
        QCOMPARE(captured.responseBody, head ? QByteArray() : got);
        if (c.args.contains("--data-binary"))
            QCOMPARE(captured.requestBody, c.out);
        QVERIFY(echoOf(captured).contains(c.originSaw));

        const QString command = CurlCommand::of(captured, url({}));
        m_seen.clear();
        const QByteArray said =
            run("sh", {file("curl.sh", command.toUtf8() + " -sS -o /dev/null\n")}, &err);
        QCOMPARE(said + err, QByteArray()); // the command ran cleanly
        QTRY_COMPARE(m_seen.size(), 1);
        QCOMPARE(summary(m_seen.first()), summary(captured));
        // Replayed by the gateway: the same, its body sent whole.
        m_seen.clear();
        const quint64 id = m_proxy.replay(captured);
        QTRY_COMPARE(m_seen.size(), 1);
        QVERIFY(m_seen.first().id == id && m_seen.first().replayed);
        QCOMPARE(summary(m_seen.first(), false), summary(captured, false));
    }

    // The window shows the entry of its own replay (held by /events until /release), not
    // another replay that came first.
    void windowShowsItsOwnReplay() {
        RequestLog log;
        connect(&m_proxy, &Gateway::exchangesCaptured, &log, &RequestLog::append);
        RequestsWindow window(&log, [this](const HttpExchange& e) { return m_proxy.replay(e); },
                              {});
        log.append({HttpExchange{.id = 1000, .method = "GET", .target = "/events"}});
        window.findChild<QPushButton*>("replayButton")->click();
        m_proxy.replay({.method = "GET", .target = "/echo"});
        QTRY_COMPARE(log.rowCount(), 2);
        QCOMPARE(run("curl", {"-s", url("/release")}), "released"_ba);
        QTRY_COMPARE(log.rowCount(), 4); // with /release's own entry
        const QList<HttpExchange> shown = window.exchanges(true);
        QVERIFY(shown.size() == 1 && shown[0].replayed && shown[0].target == "/events");
    }

    // The second event is sent only after the first has come out of the proxy.
    void serverSentEventsStream() {
        QProcess events;
        events.start("curl", {"-sN", url("/events")});
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += events.readAllStandardOutput()).contains("data: one"),
                                 10000);
        QVERIFY(!got.contains("two"));
        QCOMPARE(run("curl", {"-s", url("/release")}), "released"_ba);
        QVERIFY(events.waitForFinished(10000));
        QCOMPARE(got + events.readAllStandardOutput(), "data: one\n\ndata: two\n\n"_ba);
    }

    // The copy the editor hands back reaches the origin with the edits, as an entry of its own,
    // timed. Replays as captured are in exchanges().
    void replays() {
        const HttpExchange captured = curl({"-H", "Content-Type: text/plain", "--data-binary",
                                            '@' + file("lines", "line\r\nline"), url("/echo?v=1")},
                                           "/echo?v=1", 1)
                                          .value(0);
        RequestEditorDialog editor(captured);
        editor.findChild<QComboBox*>("methodEdit")->setCurrentText("PUT");
        editor.findChild<QLineEdit*>("pathEdit")->setText("/echo?v=2");
        auto* headers = editor.findChild<QPlainTextEdit*>("headersEdit");
        headers->setPlainText(headers->toPlainText() + "X-Added: yes\n");
        editor.findChild<QPlainTextEdit*>("bodyEdit")->appendPlainText("third");
        const quint64 id = m_proxy.replay(editor.edited());
        QTRY_COMPARE(m_seen.size(), 1);
        const HttpExchange& again = m_seen.first();
        QVERIFY(again.replayed && again.edited && again.id == id);
        QVERIFY(again.firstByteUs > 0 && again.firstByteUs <= again.durationUs);
        QCOMPARE(again.responseBody, "line\r\nline\r\nthird"_ba); // line ends kept
        const QJsonObject seen = QJsonDocument::fromJson(echoOf(again)).object();
        QCOMPARE(seen["method"].toString(), "PUT");
        QCOMPARE(seen["path"].toString(), "/echo?v=2");
        QVERIFY(seen["headers"].toArray().contains(QJsonArray{"X-Added", "yes"}));
    }

    // Written and read back; har-validator checks the app's own export in tests/e2e/gateway.py.
    void harRoundTrips() {
        const QList<HttpExchange> captured =
            curl({url("/echo?a=1&b=two%20words"), "--next", "-H",
                  "Content-Type: application/octet-stream", "--data-binary",
                  '@' + file("binary", m_binary), url("/echo"), "--next", url("/bytes?mib=2")},
                 "/bytes?mib=2", 3);
        QVERIFY(captured.size() == 3 && captured.at(2).responseBodyCut());
        const QJsonArray entries = QJsonDocument::fromJson(HarWriter::document(
            captured, "https://q.example/"))["log"]["entries"]
                                       .toArray();
        QCOMPARE(entries.size(), captured.size());
        // Read back: every field and body as captured.
        const auto fields = [](const QJsonValue& object) {
            HttpExchange::Headers read;
            for (const QJsonValue field : object["headers"].toArray())
                read.append(
                    {field["name"].toString().toUtf8(), field["value"].toString().toUtf8()});
            return read;
        };
        const auto body = [](const QJsonValue& body, const char* encodingKey) {
            const QByteArray text = body["text"].toString().toUtf8();
            return body[QLatin1String(encodingKey)] == "base64" ? QByteArray::fromBase64(text)
                                                                : text;
        };
        for (int i = 0; i < captured.size(); ++i) {
            const HttpExchange& e = captured.at(i);
            const QJsonValue request = entries[i]["request"], response = entries[i]["response"];
            QCOMPARE(request["url"].toString(), "https://q.example" + QString::fromUtf8(e.target));
            QCOMPARE(fields(request), e.requestHeaders);
            QCOMPARE(fields(response), e.responseHeaders);
            QCOMPARE(body(request["postData"], "_encoding"), e.requestBody);
            QCOMPARE(body(response["content"], "encoding"), e.responseBody);
        }
        QCOMPARE(entries[0]["request"]["queryString"].toArray().last(),
                 QJsonObject({{"name", "b"}, {"value", "two words"}}));
        QVERIFY(entries[2]["response"]["content"]["_truncated"].toBool());
        // Oldest start first, whatever the order they completed in (DevTools sorts so too).
        HttpExchange early = captured.at(0), late = captured.at(1);
        late.time = early.time.addMSecs(5);
        const QByteArray byStart = HarWriter::document({late, early}, "https://q.example/");
        QCOMPARE(QJsonDocument::fromJson(byStart)["log"]["entries"][0]["request"]["url"],
                 entries[0]["request"]["url"]);
    }

    // More exchanges than may wait while the GUI thread is busy (here: blocked in
    // waitForFinished, so nothing is handed over meanwhile): the oldest go, the newest stay,
    // in order and without gaps.
    void floodDropsTheOldestPending() {
        const int sent = Gateway::maxPending + 100;
        Gateway proxy;
        QList<QByteArray> targets;
        qsizetype firstBatch = 0;
        connect(&proxy, &Gateway::exchangesCaptured, this, [&](const QList<HttpExchange>& batch) {
            firstBatch = firstBatch ? firstBatch : batch.size();
            for (const HttpExchange& exchange : batch)
                targets << exchange.target;
        });
        proxy.setCapture(true);
        QVERIFY(proxy.start(m_originPort));
        run("curl", {"-s", "-o", "/dev/null",
                     u"http://127.0.0.1:%1/echo?n=[1-%2]"_s.arg(proxy.port()).arg(sent)});
        const auto target = [](int n) { return "/echo?n=" + QByteArray::number(n); };
        QTRY_VERIFY(!targets.isEmpty() && targets.last() == target(sent));
        QCOMPARE(firstBatch, Gateway::maxPending);
        QVERIFY(!targets.contains(target(1)) && targets.size() < sent);
        const int first = targets.first().mid(8).toInt();
        for (int i = 0; i < targets.size(); ++i)
            QCOMPARE(targets[i], target(first + i));
    }
};

QTEST_MAIN(ProxyTest)
#include "tst_proxy.moc"
