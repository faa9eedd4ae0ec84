// The gateway's own rules, between raw sockets: Host rewriting both ways, the dev servers'
// refusals, following the server between 127.0.0.1 and ::1, live options and counts.
#include "TestSupport.h"
#include "model/TunnelInstance.h"
#include "proxy/Gateway.h"
#include "proxy/RefusalScanner.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <sys/resource.h>

Q_DECLARE_METATYPE(HostCheck)

namespace {

// A dev server that records what reaches it and answers every request with `reply`.
struct RawOrigin : QTcpServer {
    QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    QByteArray seen; // every request's bytes, in order
    int requests = 0;

    RawOrigin() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray bytes = socket->readAll();
                    seen += bytes;
                    requests += int(bytes.count("\r\n\r\n"));
                    socket->write(reply);
                });
            }
        });
    }
};

// Sends `request` on a new connection and returns what came back until `until` arrived or the
// connection closed. The event loop runs meanwhile, for the origins of this thread.
QByteArray exchange(quint16 port, const QByteArray& request, const QByteArray& until) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray answer;
    QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return answer.contains(until) || socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    return answer;
}

QByteArray get(quint16 port, const QByteArray& target = "/", const QByteArray& until = "ok") {
    return exchange(port, "GET " + target + " HTTP/1.1\r\nHost: a.trycloudflare.com\r\n\r\n",
                    until);
}

} // namespace

class GatewayTest : public QObject {
    Q_OBJECT

private slots:
    void rewrite_data() {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QByteArray>("fields");      // the visitor's, after the Host line
        QTest::addColumn<QByteArray>("originSees");  // its request, PORT standing for the port
        QTest::addColumn<QByteArray>("originSends"); // fields of its answer
        QTest::addColumn<QByteArray>("visitorSees");
        const QByteArray none;
        QTest::newRow("Host") << true << none << QByteArray("\r\nHost: localhost:PORT\r\n") << none
                              << QByteArray("302 Found");
        QTest::newRow("Origin of the public URL")
            << true << QByteArray("Origin: https://quiet-river.trycloudflare.com\r\n")
            << QByteArray("\r\nOrigin: http://localhost:PORT\r\n") << none << QByteArray();
        QTest::newRow("Origin elsewhere kept")
            << true << QByteArray("Origin: https://quiet-river.trycloudflare.com.evil.example\r\n")
            << QByteArray("\r\nOrigin: https://quiet-river.trycloudflare.com.evil.example\r\n")
            << none << QByteArray();
        QTest::newRow("Referer keeps its path")
            << true << QByteArray("Referer: https://quiet-river.trycloudflare.com/a/b?c=1\r\n")
            << QByteArray("\r\nReferer: http://localhost:PORT/a/b?c=1\r\n") << none << QByteArray();
        QTest::newRow("forwarded fields kept, nothing added")
            << true
            << QByteArray("X-Forwarded-For: 203.0.113.9\r\nX-Forwarded-Proto: https\r\n"
                          "Cf-Connecting-Ip: 203.0.113.9\r\nCf-Ray: 8f1e-AMS\r\n"
                          "Cf-Visitor: {\"scheme\":\"https\"}\r\n")
            << QByteArray("X-Forwarded-For: 203.0.113.9\r\nX-Forwarded-Proto: https\r\n"
                          "Cf-Connecting-Ip: 203.0.113.9\r\nCf-Ray: 8f1e-AMS\r\n"
                          "Cf-Visitor: {\"scheme\":\"https\"}\r\nHost: localhost:PORT\r\n\r\n")
            << none << QByteArray();
        QTest::newRow("WebSocket upgrade")
            << true
            << QByteArray("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: "
                          "13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Origin: https://quiet-river.trycloudflare.com\r\n")
            << QByteArray("\r\nHost: localhost:PORT\r\nOrigin: http://localhost:PORT\r\n")
            << QByteArray("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\n\r\n")
            << QByteArray("HTTP/1.1 101 Switching Protocols\r\n");
        QTest::newRow("Location on localhost")
            << true << none << QByteArray()
            << QByteArray("Location: http://localhost:PORT/login?next=%2F\r\n")
            << QByteArray("\r\nLocation: https://quiet-river.trycloudflare.com/login?next=%2F\r\n");
        QTest::newRow("Location on 127.0.0.1")
            << true << none << QByteArray() << QByteArray("Location: http://127.0.0.1:PORT\r\n")
            << QByteArray("\r\nLocation: https://quiet-river.trycloudflare.com\r\n");
        QTest::newRow("Content-Location on [::1]")
            << true << none << QByteArray()
            << QByteArray("Content-Location: http://[::1]:PORT/doc\r\n")
            << QByteArray("\r\nContent-Location: https://quiet-river.trycloudflare.com/doc\r\n");
        QTest::newRow("Location on another port kept")
            << true << none << QByteArray() << QByteArray("Location: http://localhost:1/x\r\n")
            << QByteArray("\r\nLocation: http://localhost:1/x\r\n");
        QTest::newRow("off: the request as sent")
            << false
            << QByteArray("Origin: https://quiet-river.trycloudflare.com\r\nX-Forwarded-For: "
                          "203.0.113.9\r\n")
            << QByteArray("GET /page HTTP/1.1\r\nHost: quiet-river.trycloudflare.com\r\n"
                          "Origin: https://quiet-river.trycloudflare.com\r\nX-Forwarded-For: "
                          "203.0.113.9\r\n\r\n")
            << QByteArray("Location: http://localhost:PORT/x\r\n")
            << QByteArray("\r\nLocation: http://localhost:PORT/x\r\n");
    }
    void rewrite() {
        QFETCH(bool, on);
        QFETCH(QByteArray, fields);
        QFETCH(QByteArray, originSees);
        QFETCH(QByteArray, originSends);
        QFETCH(QByteArray, visitorSees);
        RawOrigin origin;
        QVERIFY(origin.listen(QHostAddress::LocalHost));
        const QByteArray port = QByteArray::number(origin.serverPort());
        const bool upgrade = originSends.startsWith("HTTP/1.1 101");
        origin.reply = upgrade ? originSends
                               : "HTTP/1.1 302 Found\r\n" + originSends.replace("PORT", port) +
                                     "Content-Length: 0\r\n\r\n";
        Gateway gateway;
        gateway.setRewriteHost(on);
        QVERIFY(gateway.start(origin.serverPort()));
        const QByteArray answer = exchange(
            gateway.port(),
            "GET /page HTTP/1.1\r\nHost: quiet-river.trycloudflare.com\r\n" + fields + "\r\n",
            "\r\n\r\n");
        QVERIFY2(answer.contains(visitorSees.replace("PORT", port)), answer.constData());
        QVERIFY2(origin.seen.contains(originSees.replace("PORT", port)), origin.seen.constData());
        QVERIFY(!origin.seen.contains("X-Forwarded-Host"));
        QCOMPARE(origin.seen.contains("Host: localhost:" + port), on);
    }

    // The dev servers' own words, cut at every place between two pieces.
    void refusals_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<HostCheck>("check");
        const QByteArray style = "<style>" + QByteArray(6000, ' ') + "</style>";
        QTest::newRow("Vite") << 403 << QByteArray("/")
                              << QByteArray("Blocked request. This host (\"a.trycloudflare.com\") "
                                            "is not allowed.\nTo allow this host, add ...")
                              << HostCheck::Vite;
        QTest::newRow("webpack-dev-server")
            << 403 << QByteArray("/") << QByteArray("Invalid Host header") << HostCheck::Webpack;
        QTest::newRow("webpack-dev-server 3")
            << 200 << QByteArray("/") << QByteArray("Invalid Host header") << HostCheck::Webpack;
        QTest::newRow("Django, past its styles")
            << 400 << QByteArray("/")
            << "<html><head>" + style +
                   "<h1>DisallowedHost at /</h1><pre>Invalid HTTP_HOST header: "
                   "'a.trycloudflare.com'. You may need to add 'a.trycloudflare.com' to "
                   "ALLOWED_HOSTS.</pre>"
            << HostCheck::Django;
        QTest::newRow("Rails") << 403 << QByteArray("/")
                               << "<html>" + style + "<h1>Blocked hosts: a.trycloudflare.com</h1>"
                               << HostCheck::Rails;
        QTest::newRow("Next.js dev resource") << 403 << QByteArray("/_next/webpack-hmr")
                                              << QByteArray("Unauthorized") << HostCheck::Next;
        QTest::newRow("Unauthorized elsewhere")
            << 403 << QByteArray("/admin") << QByteArray("Unauthorized") << HostCheck::None;
        QTest::newRow("a page quoting the words")
            << 200 << QByteArray("/") << QByteArray("<p>Invalid HTTP_HOST header means ...")
            << HostCheck::None;
        QTest::newRow("past the scanned start")
            << 403 << QByteArray("/")
            << QByteArray(RefusalScanner::scanLimit, ' ') + "Blocked request. This host"
            << HostCheck::None;
    }
    void refusals() {
        QFETCH(int, status);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(HostCheck, check);
        for (qsizetype cut = 0; cut <= body.size(); cut += cut < 64 ? 1 : 997) {
            RefusalScanner scanner;
            scanner.begin(unsigned(status), target.startsWith("/_next/"), false);
            scanner.feed(body.constData(), std::size_t(cut));
            scanner.feed(body.constData() + cut, std::size_t(body.size() - cut));
            QCOMPARE(scanner.result(), check);
        }
        // Through the gateway, which tells the GUI thread; a request that passes clears it.
        RawOrigin origin;
        QVERIFY(origin.listen(QHostAddress::LocalHost));
        origin.reply =
            "HTTP/1.1 " + QByteArray::number(status) +
            " No\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n\r\n" + body;
        Gateway gateway;
        QVERIFY(gateway.start(origin.serverPort()));
        QVERIFY(get(gateway.port(), target, body.right(20)).endsWith(body.right(20)));
        QTRY_COMPARE(gateway.status().refusal, check);
        origin.reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        get(gateway.port(), target, "\r\n\r\n");
        QTRY_COMPARE(gateway.status().refusal, HostCheck::None);
    }

    // Capture off: counts only, nothing kept; switched on live, exchanges come.
    void countsAndCapture() {
        RawOrigin origin;
        QVERIFY(origin.listen(QHostAddress::LocalHost));
        Gateway gateway;
        QList<HttpExchange> captured;
        connect(&gateway, &Gateway::exchangesCaptured, this,
                [&captured](const QList<HttpExchange>& batch) { captured += batch; });
        QVERIFY(gateway.start(origin.serverPort()));
        QVERIFY(!gateway.lastRequestAt().isValid());
        const QDateTime before = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < 3; ++i)
            QVERIFY(get(gateway.port()).endsWith("ok"));
        QCOMPARE(gateway.requests(), 3u);
        QVERIFY(gateway.lastRequestAt() >= before.addMSecs(-1));
        QVERIFY(gateway.lastRequestAt() <= QDateTime::currentDateTimeUtc());
        QTest::qWait(2 * Gateway::batchIntervalMs);
        QVERIFY(captured.isEmpty());
        gateway.setCapture(true);
        QVERIFY(get(gateway.port(), "/seen").endsWith("ok"));
        QTRY_COMPARE(captured.size(), 1);
        QCOMPARE(captured.first().target, QByteArray("/seen"));
        QCOMPARE(gateway.requests(), 4u);
    }

    // The server moves between 127.0.0.1 and ::1 on one port, then goes and comes back; the
    // port changes under a kept-alive connection: every request finds it.
    void followsTheServer() {
        RawOrigin v4, v6, other;
        QVERIFY(v4.listen(QHostAddress::LocalHost));
        const quint16 port = v4.serverPort();
        Gateway gateway;
        QVERIFY(gateway.start(port));
        QVERIFY(get(gateway.port()).endsWith("ok"));
        v4.close();
        if (!v6.listen(QHostAddress::LocalHostIPv6, port))
            QSKIP("::1 is not available here");
        QVERIFY(get(gateway.port()).endsWith("ok"));
        QCOMPARE(v6.requests, 1);
        v6.close();
        QVERIFY(get(gateway.port(), "/", "</p>").startsWith("HTTP/1.1 502 Bad Gateway"));
        QTRY_VERIFY(!gateway.status().answers);
        QVERIFY(v4.listen(QHostAddress::LocalHost, port));
        QVERIFY(get(gateway.port()).endsWith("ok"));
        QTRY_VERIFY(gateway.status().answers);

        QVERIFY(other.listen(QHostAddress::LocalHost));
        QTcpSocket visitor;
        visitor.connectToHost(QHostAddress::LocalHost, gateway.port());
        QVERIFY(visitor.waitForConnected(5000));
        const QByteArray request = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
        visitor.write(request);
        QTRY_COMPARE(v4.requests, 3);
        gateway.setOriginPort(other.serverPort());
        visitor.write(request);
        QTRY_COMPARE(other.requests, 1);
        QCOMPARE(v4.requests, 3);
    }

    // Without a descriptor to spare, the gateway says why it cannot listen, and a tunnel does
    // not start without it.
    void cannotListen() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), 8080),
                              {TestSupport::fakeClientLocator()});
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
        rlimit none = limit;
        none.rlim_cur = 0;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &none), 0);
        Gateway gateway;
        QString error;
        const bool started = gateway.start(8080, &error);
        tunnel.start();
        setrlimit(RLIMIT_NOFILE, &limit);
        QVERIFY(!tunnel.hasChild() && !tunnel.isRunning());
        QVERIFY2(tunnel.problem().startsWith(
                     QLatin1String("Cannot start: the gateway cannot listen (Too many open files")),
                 qPrintable(tunnel.problem()));
        QVERIFY(!started);
        QVERIFY(!gateway.isListening());
        QVERIFY2(error.contains(QLatin1String("Too many open files")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(GatewayTest)
#include "tst_gateway.moc"
