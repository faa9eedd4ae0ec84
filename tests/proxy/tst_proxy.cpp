// The inspecting proxy between real clients (curl, python websockets, raw sockets) and a real
// origin server (origin.py), each on an ephemeral loopback port.
#include "TestSupport.h"
#include "model/RequestLog.h"
#include "model/TunnelInstance.h"
#include "proxy/Gateway.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray headerValue(const HttpExchange::Headers& headers, const QByteArray& name) {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

} // namespace

class ProxyTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_origin;
    quint16 m_originPort = 0;
    Gateway m_proxy;
    QList<HttpExchange> m_seen;
    QByteArray m_binary; // every byte value, CR LF and NUL included
    QString m_binaryPath;

    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_proxy.port()).arg(path);
    }
    QByteArray run(const QString& program, const QStringList& args, QByteArray* err = nullptr) {
        QProcess process;
        process.start(program, args);
        process.waitForFinished(120000);
        if (err)
            *err = process.readAllStandardError();
        return process.readAllStandardOutput();
    }
    QByteArray m_originLog;
    int originRequests() {
        return int((m_originLog += m_origin.readAllStandardOutput()).count("REQ "));
    }

private slots:
    void initTestCase() {
        m_origin.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QUILLBY_PROXY_ORIGIN)});
        while (!m_origin.canReadLine())
            QVERIFY(m_origin.waitForReadyRead(10000));
        m_originPort = quint16(m_origin.readLine().mid(5).trimmed().toUInt());
        QVERIFY(m_originPort != 0);
        m_proxy.setCapture(true);
        m_proxy.setRewriteHost(false);
        QVERIFY(m_proxy.start(m_originPort));
        connect(&m_proxy, &Gateway::exchangesCaptured, this,
                [this](const QList<HttpExchange>& batch) { m_seen += batch; });
        for (int i = 0; i < 4; ++i)
            for (int byte = 0; byte < 256; ++byte)
                m_binary.append(char(byte));
        m_binaryPath = m_dir.filePath(QStringLiteral("binary"));
        QFile file(m_binaryPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_binary) == m_binary.size());
    }
    void cleanupTestCase() {
        m_origin.kill();
        m_origin.waitForFinished();
    }

    void exchanges_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("out");         // curl's standard output, exactly
        QTest::addColumn<QByteArray>("errContains"); // in curl's -v trace
        QTest::addColumn<QByteArray>("method");      // of the last captured exchange
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("originSaw"); // in the origin's view of the request
        const QStringList upload{QStringLiteral("--data-binary"), '@' + m_binaryPath};
        QTest::newRow("GET") << QStringList{url("/echo")} << QByteArray() << QByteArray()
                             << QByteArray("GET") << 200 << QByteArray("\"GET\"");
        QTest::newRow("POST binary")
            << QStringList{url("/echo")} + upload << m_binary << QByteArray() << QByteArray("POST")
            << 200 << QByteArray("\"Content-Length\", \"1024\"");
        QTest::newRow("PUT") << QStringList{"-X", "PUT", url("/echo")} + upload << m_binary
                             << QByteArray() << QByteArray("PUT") << 200 << QByteArray();
        QTest::newRow("DELETE") << QStringList{"-X", "DELETE", url("/echo?id=7")} << QByteArray()
                                << QByteArray() << QByteArray("DELETE") << 200
                                << QByteArray("/echo?id=7");
        QTest::newRow("Host as sent")
            << QStringList{"-H", "Host: quiet-river.trycloudflare.com", url("/echo")}
            << QByteArray() << QByteArray() << QByteArray("GET") << 200
            << QByteArray("\"Host\", \"quiet-river.trycloudflare.com\"");
        QTest::newRow("chunked request")
            << QStringList{"-H", "Transfer-Encoding: chunked", url("/echo")} + upload << m_binary
            << QByteArray() << QByteArray("POST") << 200
            << QByteArray("\"Transfer-Encoding\", \"chunked\"");
        QTest::newRow("chunked response")
            << QStringList{url("/chunked?n=3")} << QByteArray("chunk 0\nchunk 1\nchunk 2\n")
            << QByteArray("< Transfer-Encoding: chunked") << QByteArray("GET") << 200
            << QByteArray();
        QTest::newRow("Expect 100-continue")
            << QStringList{"-H", "Expect: 100-continue", url("/echo")} + upload << m_binary
            << QByteArray("< HTTP/1.1 100 Continue") << QByteArray("POST") << 200 << QByteArray();
        QTest::newRow("HEAD") << QStringList{"-I", url("/echo")} << QByteArray()
                              << QByteArray("< Content-Length: 1234") << QByteArray("HEAD") << 200
                              << QByteArray();
        QTest::newRow("keep-alive") << QStringList{url("/echo?first"), url("/echo?second")}
                                    << QByteArray() << QByteArray("Re-using existing connection")
                                    << QByteArray("GET") << 200 << QByteArray("/echo?second");
        QTest::newRow("not found") << QStringList{url("/nowhere")} << QByteArray("not here\n")
                                   << QByteArray() << QByteArray("GET") << 404 << QByteArray();
    }
    void exchanges() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, errContains);
        QFETCH(QByteArray, originSaw);
        m_seen.clear();
        QByteArray err;
        const QByteArray got = run(QStringLiteral("curl"), QStringList{"-sv"} + args, &err);
        const bool head = args.contains(QStringLiteral("-I"));
        if (!head)
            QCOMPARE(got, out);
        QVERIFY2(err.contains(errContains), err.constData());
        QTRY_COMPARE(m_seen.size(), int(args.filter(QRegularExpression("^http://")).size()));
        const HttpExchange& last = m_seen.last();
        QTEST(last.method, "method");
        QTEST(last.status, "status");
        QCOMPARE(last.responseBody, head ? QByteArray() : got);
        if (args.contains('@' + m_binaryPath))
            QCOMPARE(last.requestBody, m_binary);
        const QByteArray echo = headerValue(last.responseHeaders, "X-Echo");
        QVERIFY(QByteArray::fromBase64(echo).contains(originSaw));
    }

    // 50 MiB each way, checked by hash; only the captures' first part is kept (the proxy's
    // memory while relaying is measured in bench/gateway).
    void largeBodies() {
        const QString bigPath = m_dir.filePath(QStringLiteral("big"));
        QFile big(bigPath);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QByteArray mib;
        for (int i = 0; i < 4096; ++i)
            for (int byte = 0; byte < 256; ++byte)
                mib.append(char(byte));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (int i = 0; i < 50; ++i) {
            big.write(mib);
            hash.addData(mib);
        }
        big.close();
        m_seen.clear();
        QCOMPARE(run(QStringLiteral("curl"), {"-s", "-T", bigPath, url("/sha")}),
                 hash.result().toHex());
        const QString downloaded = m_dir.filePath(QStringLiteral("down"));
        run(QStringLiteral("curl"), {"-s", "-o", downloaded, url("/bytes?mib=50")});
        QFile down(downloaded);
        QVERIFY(down.open(QIODevice::ReadOnly));
        QCryptographicHash downHash(QCryptographicHash::Sha256);
        downHash.addData(&down);
        QCOMPARE(downHash.result(), hash.result());
        QTRY_COMPARE(m_seen.size(), 2);
        QCOMPARE(m_seen.at(0).requestBodySize, 50 << 20);
        QVERIFY(m_seen.at(0).requestBodyCut());
        QCOMPARE(m_seen.at(1).responseBodySize, 50 << 20);
        QCOMPARE(m_seen.at(1).responseBody.size(), HttpExchange::bodyCaptureLimit);
    }

    void websocketThroughUpgrade() {
        m_seen.clear();
        const QByteArray got = run(QStringLiteral("/usr/bin/python3"),
                                   {"-c",
                                    "import asyncio, sys, websockets\n"
                                    "async def main():\n"
                                    "    async with websockets.connect(sys.argv[1]) as ws:\n"
                                    "        for text in ('hello', 'through the proxy'):\n"
                                    "            await ws.send(text); print(await ws.recv())\n"
                                    "asyncio.run(main())\n",
                                    url("/ws").replace("http:", "ws:")});
        QCOMPARE(got, QByteArray("hello\nthrough the proxy\n"));
        QTRY_COMPARE(m_seen.size(), 1);
        QCOMPARE(m_seen.first().status, 101);
    }

    // The second event is sent only after the first has come out of the proxy.
    void serverSentEventsStream() {
        QProcess events;
        events.start(QStringLiteral("curl"), {"-sN", url("/events")});
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += events.readAllStandardOutput()).contains("data: one"),
                                 10000);
        QVERIFY(!got.contains("two"));
        QCOMPARE(run(QStringLiteral("curl"), {"-s", url("/release")}), QByteArray("released"));
        QVERIFY(events.waitForFinished(10000));
        QCOMPARE(got + events.readAllStandardOutput(), QByteArray("data: one\n\ndata: two\n\n"));
    }

    void refusedOrigin() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        Gateway proxy;
        QList<HttpExchange> seen;
        connect(&proxy, &Gateway::exchangesCaptured, this,
                [&seen](const QList<HttpExchange>& batch) { seen += batch; });
        proxy.setCapture(true);
        QVERIFY(proxy.start(port));
        const QByteArray page =
            run(QStringLiteral("curl"), {"-s", "-w", "%{http_code}",
                                         QStringLiteral("http://127.0.0.1:%1/").arg(proxy.port())});
        QVERIFY2(page.endsWith("502"), page.constData());
        QVERIFY(page.contains(
            QStringLiteral("nothing listens on port %1 on this computer").arg(port).toUtf8()));
        QTRY_COMPARE(seen.size(), 1);
        QVERIFY(seen.first().originRefused);
    }

    void malformed_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nNo colon\r\n\r\n");
        QTest::newRow("request line") << QByteArray("GET /\r\nHost: a\r\n\r\n");
        QTest::newRow("version") << QByteArray("GET / HTTP/X.1\r\n\r\n");
        QTest::newRow("method") << QByteArray("G(T / HTTP/1.1\r\n\r\n");
        QTest::newRow("header too large")
            << "GET / HTTP/1.1\r\nX-Big: " + QByteArray(70000, 'a') + "\r\n\r\n";
        QTest::newRow("two lengths")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n");
    }
    void malformed() {
        QFETCH(QByteArray, request);
        m_seen.clear();
        const int before = originRequests();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_proxy.port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write(request);
        QByteArray answer;
        while (socket.waitForReadyRead(5000))
            answer += socket.readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 400 Bad Request\r\n"), answer.constData());
        // The next request is the first the origin sees.
        run(QStringLiteral("curl"), {"-s", url("/echo?after")});
        QTRY_COMPARE(m_seen.size(), 1);
        QCOMPARE(m_seen.first().target, QByteArray("/echo?after"));
        QTRY_COMPARE(originRequests(), before + 1);
    }

    void replayReproducesTheRequest() {
        m_seen.clear();
        run(QStringLiteral("curl"), {"-s", "-H", "X-Hub-Signature: sha256=0f1e", url("/echo?hook"),
                                     "--data-binary", '@' + m_binaryPath});
        QTRY_COMPARE(m_seen.size(), 1);
        m_proxy.replay(m_seen.first());
        QTRY_COMPARE(m_seen.size(), 2);
        const HttpExchange &original = m_seen.at(0), &again = m_seen.at(1);
        QVERIFY(again.replayed && again.id != original.id);
        QCOMPARE(again.status, 200);
        QCOMPARE(again.responseBody, m_binary);
        // The origin saw the same method, path and header fields, in the same order.
        QCOMPARE(headerValue(again.responseHeaders, "X-Echo"),
                 headerValue(original.responseHeaders, "X-Echo"));
    }

    // The client forwards to the gateway, which forwards to the server where it listens and
    // captures only while inspecting. A server gone after the start shows up as the row's
    // problem.
    void tunnelThroughTheInspector_data() {
        QTest::addColumn<bool>("inspect");
        QTest::addColumn<QString>("server"); // where it listens, or "gone" once started
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("inspected") << true << "127.0.0.1" << QByteArray("404");
        QTest::newRow("inspected, server on ::1 only") << true << "::1" << QByteArray("200");
        QTest::newRow("inspected, server gone") << true << "gone" << QByteArray("502");
        QTest::newRow("not inspected") << false << "127.0.0.1" << QByteArray("404");
    }
    void tunnelThroughTheInspector() {
        QFETCH(bool, inspect);
        QFETCH(QString, server);
        TestSupport::TempHome home;
        QTcpServer leaving;
        QVERIFY(leaving.listen(QHostAddress::LocalHost));
        QProcess ipv6;
        qint64 port = server == "gone" ? leaving.serverPort() : m_originPort;
        if (server == "::1") {
            ipv6.setWorkingDirectory(home.path());
            ipv6.start("/usr/bin/python3", {"-u", "-m", "http.server", "--bind", "::1", "0"});
            QByteArray said;
            QTRY_VERIFY((said += ipv6.readAllStandardOutput()).contains(") ..."));
            port = QRegularExpression("port (\\d+)").match(said).captured(1).toLongLong();
        }
        TunnelConfig config = TunnelConfig::create(QStringLiteral("Hooks"), port);
        config.inspect = inspect;
        TunnelInstance tunnel(config, {TestSupport::fakeClientLocator()});
        tunnel.start();
        QVERIFY(tunnel.hasChild());
        leaving.close();
        TunnelRequestCapture* inspector = tunnel.inspector();
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(inspector->port());
        QTRY_VERIFY(TestSupport::processCommandLine(tunnel.childPid()).endsWith("--url " + origin));
        QVERIFY(tunnel.problem().isEmpty());
        // A request as the client would send it.
        QTEST(run("curl", {"-s", "-o", "/dev/null", "-w", "%{http_code}", origin + "/"}), "status");
        QTRY_COMPARE(inspector->log()->rowCount(), inspect ? 1 : 0);
        QTRY_COMPARE(tunnel.problem(), server == "gone"
                                           ? QStringLiteral("Nothing answers on port %1").arg(port)
                                           : QString());
        tunnel.stop();
        QTRY_VERIFY(!tunnel.hasChild());
        ipv6.kill();
        ipv6.waitForFinished();
    }

    // More exchanges than may wait while the GUI thread is busy (here: blocked in
    // waitForFinished, so nothing is handed over meanwhile): the oldest go, the newest stay.
    void floodDropsTheOldestPending() {
        Gateway proxy;
        QList<QList<HttpExchange>> batches;
        connect(&proxy, &Gateway::exchangesCaptured, this,
                [&batches](const QList<HttpExchange>& batch) { batches << batch; });
        proxy.setCapture(true);
        QVERIFY(proxy.start(m_originPort));
        const int sent = Gateway::maxPending + 100;
        QProcess curl; // one connection, requests one after the other
        curl.setStandardOutputFile(QProcess::nullDevice());
        curl.start(
            "curl",
            {"-s",
             QStringLiteral("http://127.0.0.1:%1/echo?n=[1-%2]").arg(proxy.port()).arg(sent)});
        QVERIFY(curl.waitForFinished(120000));
        const auto target = [](int n) { return "/echo?n=" + QByteArray::number(n); };
        QTRY_VERIFY(!batches.isEmpty() && batches.last().last().target == target(sent));
        QCOMPARE(batches.first().size(), Gateway::maxPending);
        QList<QByteArray> targets;
        for (const auto& batch : std::as_const(batches))
            for (const HttpExchange& exchange : batch)
                targets << exchange.target;
        QVERIFY(!targets.contains(target(1)) && targets.size() < sent);
        // What is kept comes in order, without gaps.
        const int first = targets.first().mid(8).toInt();
        for (int i = 0; i < targets.size(); ++i)
            QCOMPARE(targets[i], target(first + i));
    }

    void logKeepsTheLast500() {
        RequestLog log;
        quint64 id = 0;
        for (int batch = 0; batch < 3; ++batch) {
            QList<HttpExchange> exchanges(200);
            for (HttpExchange& exchange : exchanges)
                exchange.id = ++id;
            log.append(exchanges);
        }
        QCOMPARE(log.rowCount(), RequestLog::capacity);
        QCOMPARE(log.exchangeAt(0).id, 600u);
        QCOMPARE(log.exchangeAt(RequestLog::capacity - 1).id, 101u);
        log.clear();
        QCOMPARE(log.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(ProxyTest)
#include "tst_proxy.moc"
