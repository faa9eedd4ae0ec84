// The gateway's own rules, between raw sockets: Host rewriting both ways, the dev servers'
// refusals, malformed requests, following the server between 127.0.0.1 and ::1 and the page
// when nothing listens, live options and counts.
#include "TestSupport.h"
#include "model/TunnelInstance.h"
#include "proxy/Gateway.h"
#include "proxy/RefusalScanner.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <sys/resource.h>

Q_DECLARE_METATYPE(HostCheck)

using namespace Qt::StringLiterals;

namespace {

// A dev server that records what reaches it and answers every request with `reply`.
struct RawOrigin : QTcpServer {
    QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    QByteArray seen; // every request's bytes, in order
    int requests = 0;

    explicit RawOrigin(bool listenNow = true) {
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
        if (listenNow)
            listen(QHostAddress::LocalHost);
    }
};

// Sends `request` on a new connection and returns what came back until `until` arrived or the
// connection closed. The event loop runs meanwhile, for the origins of this thread.
QByteArray exchange(quint16 port, const QByteArray& request, const QByteArray& until = "ok") {
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
        const auto row = [](const char* tag, bool on, const char* fields, const char* originSees,
                            const char* originSends, const char* visitorSees) {
            QTest::newRow(tag) << on << QByteArray(fields) << QByteArray(originSees)
                               << QByteArray(originSends) << QByteArray(visitorSees);
        };
        const char* pub = "https://quiet-river.trycloudflare.com";
        const QByteArray origin = "Origin: "_ba + pub + "\r\n";
        row("Host", true, "", "\r\nHost: localhost:PORT\r\n", "", "302 Found");
        row("Origin of the public URL", true, origin, "\r\nOrigin: http://localhost:PORT\r\n", "",
            "");
        row("Origin elsewhere kept", true, "Origin: "_ba + pub + ".evil.example\r\n",
            "\r\nOrigin: "_ba + pub + ".evil.example\r\n", "", "");
        row("Referer keeps its path", true, "Referer: "_ba + pub + "/a/b?c=1\r\n",
            "\r\nReferer: http://localhost:PORT/a/b?c=1\r\n", "", "");
        const QByteArray forwarded = "X-Forwarded-For: 203.0.113.9\r\nX-Forwarded-Proto: https\r\n"
                                     "Cf-Connecting-Ip: 203.0.113.9\r\nCf-Ray: 8f1e-AMS\r\n"
                                     "Cf-Visitor: {\"scheme\":\"https\"}\r\n";
        row("forwarded fields kept, nothing added", true, forwarded,
            forwarded + "Host: localhost:PORT\r\n\r\n", "", "");
        row("WebSocket upgrade", true,
            "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
                origin,
            "\r\nHost: localhost:PORT\r\nOrigin: http://localhost:PORT\r\n",
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n",
            "HTTP/1.1 101 Switching Protocols\r\n");
        row("Location on localhost", true, "", "",
            "Location: http://localhost:PORT/login?next=%2F\r\n",
            "\r\nLocation: https://quiet-river.trycloudflare.com/login?next=%2F\r\n");
        row("Location on 127.0.0.1", true, "", "", "Location: http://127.0.0.1:PORT\r\n",
            "\r\nLocation: https://quiet-river.trycloudflare.com\r\n");
        row("Content-Location on [::1]", true, "", "",
            "Content-Location: http://[::1]:PORT/doc\r\n",
            "\r\nContent-Location: https://quiet-river.trycloudflare.com/doc\r\n");
        row("Location on another port kept", true, "", "", "Location: http://localhost:1/x\r\n",
            "\r\nLocation: http://localhost:1/x\r\n");
        row("off: the request as sent", false, origin + "X-Forwarded-For: 203.0.113.9\r\n",
            "GET /page HTTP/1.1\r\nHost: quiet-river.trycloudflare.com\r\n" + origin +
                "X-Forwarded-For: 203.0.113.9\r\n\r\n",
            "Location: http://localhost:PORT/x\r\n", "\r\nLocation: http://localhost:PORT/x\r\n");
    }
    void rewrite() {
        QFETCH(bool, on);
        QFETCH(QByteArray, fields);
        QFETCH(QByteArray, originSees);
        QFETCH(QByteArray, originSends);
        QFETCH(QByteArray, visitorSees);
        RawOrigin origin;
        const QByteArray port = QByteArray::number(origin.serverPort());
        origin.reply = originSends.startsWith("HTTP/1.1 101")
                           ? originSends
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
        const auto row = [](const char* tag, int status, const char* target, QByteArray body,
                            HostCheck check) {
            QTest::newRow(tag) << status << QByteArray(target) << body << check;
        };
        const QByteArray style = "<style>" + QByteArray(6000, ' ') + "</style>";
        row("Vite", 403, "/",
            "Blocked request. This host (\"a.trycloudflare.com\") is not allowed.\n"
            "To allow this host, add ...",
            HostCheck::Vite);
        row("webpack-dev-server", 403, "/", "Invalid Host header", HostCheck::Webpack);
        row("webpack-dev-server 3", 200, "/", "Invalid Host header", HostCheck::Webpack);
        row("Django, past its styles", 400, "/",
            "<html><head>" + style +
                "<h1>DisallowedHost at /</h1><pre>Invalid HTTP_HOST header: "
                "'a.trycloudflare.com'. You may need to add 'a.trycloudflare.com' to "
                "ALLOWED_HOSTS.</pre>",
            HostCheck::Django);
        row("Rails", 403, "/", "<html>" + style + "<h1>Blocked hosts: a.trycloudflare.com</h1>",
            HostCheck::Rails);
        row("Next.js dev resource", 403, "/_next/webpack-hmr", "Unauthorized", HostCheck::Next);
        row("Unauthorized elsewhere", 403, "/admin", "Unauthorized", HostCheck::None);
        row("a page quoting the words", 200, "/", "<p>Invalid HTTP_HOST header means ...",
            HostCheck::None);
        row("past the scanned start", 403, "/",
            QByteArray(RefusalScanner::scanLimit, ' ') + "Blocked request. This host",
            HostCheck::None);
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

    // Answered 400 by the gateway; the origin sees only the next, good request.
    void malformed_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("no colon") << "GET / HTTP/1.1\r\nHost: a\r\nNo colon\r\n\r\n"_ba;
        QTest::newRow("request line") << "GET /\r\nHost: a\r\n\r\n"_ba;
        QTest::newRow("version") << "GET / HTTP/X.1\r\n\r\n"_ba;
        QTest::newRow("method") << "G(T / HTTP/1.1\r\n\r\n"_ba;
        QTest::newRow("header too large")
            << "GET / HTTP/1.1\r\nX-Big: " + QByteArray(70000, 'a') + "\r\n\r\n";
        QTest::newRow("two lengths")
            << "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"_ba;
    }
    void malformed() {
        QFETCH(QByteArray, request);
        RawOrigin origin;
        Gateway gateway;
        QVERIFY(gateway.start(origin.serverPort()));
        const QByteArray answer = exchange(gateway.port(), request, "\r\n\r\n");
        QVERIFY2(answer.startsWith("HTTP/1.1 400 Bad Request\r\n"), answer.constData());
        QVERIFY(get(gateway.port(), "/after").endsWith("ok"));
        QCOMPARE(origin.requests, 1);
        QVERIFY(origin.seen.startsWith("GET /after "));
    }

    // Capture off: counts only, nothing kept; switched on live, exchanges come.
    void countsAndCapture() {
        RawOrigin origin;
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
        QCOMPARE(captured.first().target, "/seen"_ba);
        QCOMPARE(gateway.requests(), 4u);
    }

    // The server moves between 127.0.0.1 and ::1 on one port, then goes (the gateway's own 502
    // page, captured as refused) and comes back; the port changes under a kept-alive
    // connection: every request finds it.
    void followsTheServer() {
        RawOrigin v4, v6(false), other;
        const quint16 port = v4.serverPort();
        Gateway gateway;
        QList<HttpExchange> captured;
        connect(&gateway, &Gateway::exchangesCaptured, this,
                [&captured](const QList<HttpExchange>& batch) { captured += batch; });
        gateway.setCapture(true);
        QVERIFY(gateway.start(port));
        QVERIFY(get(gateway.port()).endsWith("ok"));
        v4.close();
        if (!v6.listen(QHostAddress::LocalHostIPv6, port))
            QSKIP("::1 is not available here");
        QVERIFY(get(gateway.port()).endsWith("ok"));
        QCOMPARE(v6.requests, 1);
        v6.close();
        const QByteArray page = get(gateway.port(), "/", "</p>");
        QVERIFY2(page.startsWith("HTTP/1.1 502 Bad Gateway"), page.constData());
        QVERIFY(page.contains(u"nothing listens on port %1 on this computer"_s.arg(port).toUtf8()));
        QTRY_VERIFY(!gateway.status().answers);
        QTRY_VERIFY(!captured.isEmpty() && captured.last().originRefused);
        QVERIFY(v4.listen(QHostAddress::LocalHost, port));
        QVERIFY(get(gateway.port()).endsWith("ok"));
        QTRY_VERIFY(gateway.status().answers);

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
        TunnelInstance tunnel(TunnelConfig::create("T", 8080), {TestSupport::fakeClientLocator()});
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
        QVERIFY(!started && !gateway.isListening());
        QVERIFY2(error.contains("Too many open files"_L1), qPrintable(error));
        QVERIFY(!tunnel.hasChild() && !tunnel.isRunning());
        QVERIFY2(tunnel.problem().startsWith(
                     "Cannot start: the gateway cannot listen (Too many open files"_L1),
                 qPrintable(tunnel.problem()));
    }
};

QTEST_GUILESS_MAIN(GatewayTest)
#include "tst_gateway.moc"
