// What the inspector makes of real captures, through the real proxy to the real origin
// (origin.py): curl commands run by a real shell, edited replays, HAR files checked by the
// har-validator package.
#include "model/CurlCommand.h"
#include "model/HarWriter.h"
#include "proxy/Gateway.h"
#include "ui/RequestEditorDialog.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Header fields as a sorted list of "name: value", names in lower case: what must survive.
QList<QByteArray> fields(const HttpExchange::Headers& headers) {
    QList<QByteArray> list;
    for (const auto& [name, value] : headers)
        list.append(name.toLower() + ": " + value);
    std::sort(list.begin(), list.end());
    return list;
}

QByteArray allBytes() {
    QByteArray bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes.append(char(byte));
    return bytes + "'\\%s%%\\n" + bytes;
}

} // namespace

class InspectorTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_origin;
    Gateway m_proxy;
    QList<HttpExchange> m_seen;

    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_proxy.port()); }
    // One request exactly as written, through the proxy; its capture.
    HttpExchange send(const QByteArray& request) {
        m_seen.clear();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_proxy.port());
        socket.waitForConnected(5000);
        socket.write(request);
        // The answer is read as the event loop turns, until the capture comes out.
        if (!QTest::qWaitFor([this] { return !m_seen.isEmpty(); }, 10000))
            return {};
        return m_seen.takeFirst();
    }

private slots:
    void initTestCase() {
        m_origin.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QUILLBY_PROXY_ORIGIN)});
        while (!m_origin.canReadLine())
            QVERIFY(m_origin.waitForReadyRead(10000));
        const quint16 port = quint16(m_origin.readLine().mid(5).trimmed().toUInt());
        m_proxy.setCapture(true);
        m_proxy.setRewriteHost(false); // the requests exactly as curl sends them
        QVERIFY(m_proxy.start(port));
        connect(&m_proxy, &Gateway::exchangesCaptured, this,
                [this](const QList<HttpExchange>& batch) { m_seen += batch; });
    }
    void cleanupTestCase() {
        m_origin.kill();
        m_origin.waitForFinished();
    }

    // The command, run by sh, makes the proxy capture the same request again.
    void curlSendsTheSameRequest_data() {
        QTest::addColumn<QByteArray>("request");
        const QByteArray binary = allBytes();
        const QByteArray text = "{\"it's\": \"100% \\\"quoted\\\" $HOME `id`\",\n\t\"é\": 1}";
        QTest::newRow("binary body")
            << "POST /echo?x=1 HTTP/1.1\r\nHost: quiet-river.trycloudflare.com\r\n"
               "Content-Type: application/octet-stream\r\nContent-Length: " +
                   QByteArray::number(binary.size()) + "\r\n\r\n" + binary;
        QTest::newRow("text body with shell characters")
            << "PUT /echo HTTP/1.1\r\nHost: a\r\nContent-Type: application/json\r\n"
               "Content-Length: " +
                   QByteArray::number(text.size()) + "\r\n\r\n" + text;
        QTest::newRow("body that looks like a file name")
            << QByteArray("POST /echo HTTP/1.1\r\nHost: a\r\nContent-Length: 9\r\n\r\n@/etc/hos");
        QTest::newRow("long text body")
            << "POST /echo HTTP/1.1\r\nHost: a\r\nContent-Length: 200000\r\n\r\n" +
                   QByteArray(200000, 'x');
        QTest::newRow("no User-Agent, no Accept, empty field, repeated field")
            << QByteArray("GET /echo HTTP/1.1\r\nHost: a\r\nX-Empty:\r\nX-Twice: 1\r\n"
                          "X-Twice: 2\r\n\r\n");
        QTest::newRow("path with brackets, braces and dot segments")
            << QByteArray("DELETE /a/../echo/./x?q=[1]&r={2} HTTP/1.1\r\nHost: a\r\n"
                          "User-Agent: hook/1\r\nAccept: */*\r\n\r\n");
        QTest::newRow("HEAD") << QByteArray("HEAD /echo HTTP/1.1\r\nHost: a\r\n\r\n");
        QTest::newRow("chunked") << QByteArray(
            "PATCH /echo HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n"
            "3\r\nabc\r\n2\r\n\r\n\r\n0\r\n\r\n");
    }
    void curlSendsTheSameRequest() {
        QFETCH(QByteArray, request);
        const HttpExchange captured = send(request);
        QVERIFY(captured.status != 0);
        const QString command = CurlCommand::of(captured, base());
        // From a file, as pasted into a script: a long command is more than one argument holds.
        QFile script(m_dir.filePath(QStringLiteral("curl.sh")));
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(command.toUtf8() + " -s -o /dev/null\n");
        script.close();
        QProcess shell;
        shell.start(QStringLiteral("sh"), {script.fileName()});
        QVERIFY(shell.waitForFinished(30000));
        QVERIFY2(shell.exitCode() == 0, qPrintable(command + shell.readAllStandardError()));
        QTRY_COMPARE(m_seen.size(), 1);
        const HttpExchange& again = m_seen.first();
        QCOMPARE(again.method, captured.method);
        QCOMPARE(again.target, captured.target);
        QCOMPARE(fields(again.requestHeaders), fields(captured.requestHeaders));
        QCOMPARE(again.requestBody, captured.requestBody);
        QCOMPARE(again.status, captured.status);
        QCOMPARE(again.responseBody, captured.responseBody);
    }

    // The copy the editor hands back reaches the origin with the edits, as an entry of its own.
    void editedReplayCarriesTheEdits() {
        const HttpExchange captured =
            send("POST /echo?v=1 HTTP/1.1\r\nHost: a\r\nContent-Type: text/plain\r\n"
                 "Content-Length: 10\r\n\r\nline\r\nline");
        QVERIFY(captured.firstByteUs > 0 && captured.firstByteUs <= captured.durationUs);
        RequestEditorDialog editor(captured);
        editor.findChild<QComboBox*>(QStringLiteral("methodEdit"))->setCurrentText("PUT");
        editor.findChild<QLineEdit*>(QStringLiteral("pathEdit"))->setText("/echo?v=2");
        auto* headers = editor.findChild<QPlainTextEdit*>(QStringLiteral("headersEdit"));
        headers->setPlainText(headers->toPlainText() + "X-Added: yes\n");
        auto* body = editor.findChild<QPlainTextEdit*>(QStringLiteral("bodyEdit"));
        body->setPlainText(body->toPlainText() + "\nthird");
        m_seen.clear();
        m_proxy.replay(editor.edited());
        QTRY_COMPARE(m_seen.size(), 1);
        const HttpExchange& again = m_seen.first();
        QVERIFY(again.replayed && again.edited && again.id != captured.id);
        QVERIFY(again.firstByteUs > 0 && again.firstByteUs <= again.durationUs);
        QCOMPARE(again.status, 200);
        QCOMPARE(again.responseBody, QByteArray("line\r\nline\r\nthird")); // line ends kept
        QByteArray echo;
        for (const auto& [name, value] : again.responseHeaders)
            if (name == "X-Echo")
                echo = QByteArray::fromBase64(value);
        const QJsonObject seen = QJsonDocument::fromJson(echo).object();
        QCOMPARE(seen[QStringLiteral("method")].toString(), QStringLiteral("PUT"));
        QCOMPARE(seen[QStringLiteral("path")].toString(), QStringLiteral("/echo?v=2"));
        QVERIFY(seen[QStringLiteral("headers")].toArray().contains(
            QJsonArray{QStringLiteral("X-Added"), QStringLiteral("yes")}));
    }

    // Written, checked by har-validator, read back.
    void harPassesTheValidatorAndRoundTrips() {
        const QList<HttpExchange> captured{
            send("GET /echo?a=1&b=two%20words HTTP/1.1\r\nHost: a\r\nAccept: */*\r\n\r\n"),
            send("POST /echo HTTP/1.1\r\nHost: a\r\nContent-Type: application/octet-stream\r\n"
                 "Content-Length: " +
                 QByteArray::number(allBytes().size()) + "\r\n\r\n" + allBytes()),
            send("GET /bytes?mib=2 HTTP/1.1\r\nHost: a\r\n\r\n"),
            send("GET /nowhere HTTP/1.1\r\nHost: a\r\n\r\n"),
        };
        QCOMPARE(captured.at(1).requestBody, allBytes());
        QVERIFY(captured.at(2).responseBodyCut());
        const QString path = m_dir.filePath(QStringLiteral("requests.har"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(HarWriter::document(captured, QStringLiteral("https://quiet-river.example/")));
        file.close();

        const QString modules = QStringLiteral(QUILLBY_DEVSERVERS "/node_modules");
        if (!QFile::exists(modules + "/har-validator"))
            QSKIP(qPrintable("har-validator is not installed: npm ci in " +
                             QStringLiteral(QUILLBY_DEVSERVERS)));
        QProcess node;
        node.start(QStringLiteral("node"),
                   {"-e",
                    "require(process.argv[1] + '/har-validator')"
                    ".har(JSON.parse(require('fs').readFileSync(process.argv[2])))"
                    ".then(() => {}, e => { console.error(JSON.stringify(e.errors || e));"
                    " process.exit(1) })",
                    modules, path});
        QVERIFY(node.waitForFinished(30000));
        QVERIFY2(node.exitCode() == 0, node.readAllStandardError().constData());

        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray entries =
            QJsonDocument::fromJson(
                file.readAll())[QStringLiteral("log")][QStringLiteral("entries")]
                .toArray();
        QCOMPARE(entries.size(), captured.size());
        for (int i = 0; i < captured.size(); ++i) {
            const HttpExchange& e = captured.at(i);
            const QJsonObject request = entries[i][QStringLiteral("request")].toObject();
            const QJsonObject response = entries[i][QStringLiteral("response")].toObject();
            QCOMPARE(request[QStringLiteral("method")].toString().toLatin1(), e.method);
            QCOMPARE(request[QStringLiteral("url")].toString(),
                     "https://quiet-river.example" + QString::fromUtf8(e.target));
            QCOMPARE(response[QStringLiteral("status")].toInt(), e.status);
            for (const auto& [object, headers] :
                 {std::pair{request, e.requestHeaders}, std::pair{response, e.responseHeaders}}) {
                HttpExchange::Headers read;
                for (const QJsonValue field : object[QStringLiteral("headers")].toArray())
                    read.append({field[QStringLiteral("name")].toString().toUtf8(),
                                 field[QStringLiteral("value")].toString().toUtf8()});
                QCOMPARE(read, headers);
            }
            for (const auto& [body, encodingKey, captured] :
                 {std::tuple{request[QStringLiteral("postData")].toObject(), "_encoding",
                             e.requestBody},
                  std::tuple{response[QStringLiteral("content")].toObject(), "encoding",
                             e.responseBody}}) {
                const QByteArray text = body[QStringLiteral("text")].toString().toUtf8();
                QCOMPARE(body[QLatin1String(encodingKey)] == QStringLiteral("base64")
                             ? QByteArray::fromBase64(text)
                             : text,
                         captured);
            }
        }
        const QJsonObject first = entries[0][QStringLiteral("request")].toObject();
        QCOMPARE(first[QStringLiteral("queryString")].toArray().last(),
                 QJsonObject({{"name", "b"}, {"value", "two words"}}));
        QVERIFY(entries[2][QStringLiteral("response")][QStringLiteral("content")]
                       [QStringLiteral("_truncated")]
                           .toBool());
    }
};

QTEST_MAIN(InspectorTest)
#include "tst_requestexport.moc"
