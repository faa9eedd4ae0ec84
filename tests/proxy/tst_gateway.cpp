// The gateway's own rules, between raw sockets: Host rewriting both ways, the dev servers'
// refusals, malformed requests, the password, the page when nothing listens, a server that moves
// to ::1, live options and counts, replays and the edge's limits. Real dev servers and a gateway
// that cannot listen are in tests/e2e/gateway.py.
#include "proxy/BasicAuthGuard.h"
#include "proxy/Gateway.h"
#include "proxy/MessageHead.h"
#include "proxy/RefusalScanner.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/write.hpp>
#include <sstream>

struct Refusal {
    int status;
    QByteArray target, body;
    HostCheck check;
};
Q_DECLARE_METATYPE(Refusal)
// "|" stands for CRLF, PUB for the public URL, LOC for http://localhost:PORT, PORT for the
// dev server's port.
struct Rewrite {
    QByteArray fields, originSees, originSends, visitorSees; // fields: the visitor's after Host
};
Q_DECLARE_METATYPE(Rewrite)
// `requests` at once to a dev server that answers `reply` (none when empty); the facts the
// gateway tells about the edge, until they go by themselves.
struct Edge {
    QByteArray reply;
    bool quick;
    int requests;
    int firstByteMs;
    GatewayStatus told; // none: the answers are captured and nothing is told
};
Q_DECLARE_METATYPE(Edge)

using namespace Qt::StringLiterals;

namespace {

// A dev server that records what reaches it and answers every request with `reply`.
struct RawOrigin : QTcpServer {
    QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    QByteArray seen; // every request's bytes, in order

    explicit RawOrigin(const QHostAddress& address = QHostAddress::LocalHost) {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray bytes = socket->readAll();
                    seen += bytes;
                    socket->write(reply);
                });
            }
        });
        listen(address);
    }
    int requests() const { return int(seen.count("\r\n\r\n")); }
};

// A gateway that keeps what it captured.
struct Recorder : Gateway {
    QList<HttpExchange> seen;
    Recorder() {
        connect(this, &Gateway::exchangesCaptured, this,
                [this](const QList<HttpExchange>& batch) { seen += batch; });
    }
};

// Sends `request` on a new connection and returns what came back until `until` arrived or the
// connection closed. The event loop runs meanwhile, for the origins of this thread.
QByteArray exchange(quint16 port, const QByteArray& request, const QByteArray& until = "ok") {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor(
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
    // Every row also checks Host turned into localhost:PORT, with no X-Forwarded-Host added.
    void rewrite_data() {
        QTest::addColumn<Rewrite>("r");
        QTest::newRow("Origin of the public URL") << Rewrite{"Origin: PUB|", "|Origin: LOC|"};
        QTest::newRow("Origin elsewhere kept")
            << Rewrite{"Origin: PUB.evil.example|", "|Origin: PUB.evil.example|"};
        QTest::newRow("Referer keeps its path")
            << Rewrite{"Referer: PUB/a/b?c=1|", "|Referer: LOC/a/b?c=1|"};
        const QByteArray forwarded = "X-Forwarded-For: 203.0.113.9|X-Forwarded-Proto: https|"
                                     "Cf-Connecting-Ip: 203.0.113.9|Cf-Ray: 8f1e-AMS|"
                                     "Cf-Visitor: {\"scheme\":\"https\"}|";
        QTest::newRow("forwarded fields kept, nothing added")
            << Rewrite{forwarded, forwarded + "Host: localhost:PORT||"};
        QTest::newRow("Location on 127.0.0.1")
            << Rewrite{"", "", "Location: http://127.0.0.1:PORT|", "|Location: PUB|"};
        QTest::newRow("Content-Location on [::1]") << Rewrite{
            "", "", "Content-Location: http://[::1]:PORT/doc|", "|Content-Location: PUB/doc|"};
        QTest::newRow("Location on another port kept") << Rewrite{
            "", "", "Location: http://localhost:1/x|", "|Location: http://localhost:1/x|"};
    }
    void rewrite() {
        QFETCH(Rewrite, r);
        auto& [fields, originSees, originSends, visitorSees] = r;
        RawOrigin origin;
        const QByteArray port = QByteArray::number(origin.serverPort());
        for (QByteArray* text : {&fields, &originSees, &originSends, &visitorSees})
            text->replace("LOC", "http://localhost:PORT")
                .replace("PUB", "https://dev.example.com") // a host of the user's own
                .replace("PORT", port)
                .replace("|", "\r\n");
        origin.reply = "HTTP/1.1 302 Found\r\n" + originSends + "Content-Length: 0\r\n\r\n";
        Gateway gateway; // rewriting by default
        QVERIFY(gateway.start(origin.serverPort()));
        const QByteArray answer = exchange(
            gateway.port(), "GET /page HTTP/1.1\r\nHost: dev.example.com\r\n" + fields + "\r\n",
            "\r\n\r\n");
        QVERIFY(answer.contains(visitorSees));
        QVERIFY(origin.seen.contains(originSees));
        QVERIFY(!origin.seen.contains("X-Forwarded-Host"));
        QVERIFY(origin.seen.contains("Host: localhost:" + port));
    }

    // A message that is not chunked leaves as its head, byte for byte what Beast writes.
    void messageHead_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("a method of its own, a field twice, one unknown")
            << QByteArray("PURGE /a?b=1 HTTP/1.1\r\nHost: x\r\nX-Seen: 1\r\nx-seen: 2\r\n\r\n");
        QTest::newRow("HTTP/1.0, no field") << QByteArray("GET / HTTP/1.0\r\n\r\n");
        QTest::newRow("no reason phrase: the standard one")
            << QByteArray("HTTP/1.1 404 \r\nContent-Length: 0\r\n\r\n");
        QTest::newRow("a reason of its own")
            << QByteArray("HTTP/1.0 299 Fine, thanks\r\nServer: x\r\nContent-Length: 0\r\n\r\n");
    }
    void messageHead() {
        QFETCH(QByteArray, head);
        std::ostringstream beast;
        std::string ours;
        const auto write = [&](auto&& parser) {
            boost::system::error_code ec;
            parser.put(boost::asio::buffer(head.data(), head.size()), ec);
            QVERIFY(parser.is_header_done());
            beast << parser.get().base();
            MessageHead::write(parser.get(), ours);
        };
        namespace http = boost::beast::http;
        if (head.startsWith("HTTP/"))
            write(http::response_parser<http::empty_body>());
        else
            write(http::request_parser<http::empty_body>());
        QCOMPARE(QByteArray::fromStdString(ours), QByteArray::fromStdString(beast.str()));
    }

    // The dev servers' own words, cut at every place between two pieces. Through the gateway to
    // the row's line, and cleared by a request that passes, in tests/e2e/gateway.py.
    void refusals_data() {
        QTest::addColumn<Refusal>("r");
        const auto row = [](const char* tag, int status, const char* target, QByteArray body,
                            HostCheck check) {
            QTest::newRow(tag) << Refusal{status, target, body, check};
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
        QFETCH(Refusal, r);
        const auto& [status, target, body, check] = r;
        for (qsizetype cut = 0; cut <= body.size(); cut += cut < 64 ? 1 : 997) {
            RefusalScanner scanner;
            scanner.begin(unsigned(status), target.startsWith("/_next/"), false);
            scanner.feed(body.constData(), std::size_t(cut));
            scanner.feed(body.constData() + cut, std::size_t(body.size() - cut));
            QCOMPARE(scanner.result(), check);
        }
    }

    // Answered 400 by the gateway; the origin sees only the next, good request.
    void malformed_data() {
        QTest::addColumn<QByteArray>("request");
        // Any of Beast's parse errors takes the same way as this one.
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
        QVERIFY(answer.startsWith("HTTP/1.1 400 Bad Request\r\n"));
        QVERIFY(get(gateway.port(), "/after").endsWith("ok"));
        QCOMPARE(origin.requests(), 1);
        QVERIFY(origin.seen.startsWith("GET /after "));
    }

    // The password taken off before the server sees the request; ten failures, then 429 for
    // the same visitor. The guard's every answer is tst_sharing's.
    void password() {
        RawOrigin origin;
        Gateway gateway;
        auto guard = std::make_shared<BasicAuthGuard>();
        guard->requireCredentials("quillby", "pw");
        gateway.setAccessGuard(guard);
        QVERIFY(gateway.start(origin.serverPort()));
        const auto as = [&](const QByteArray& pair) {
            return exchange(gateway.port(),
                            "GET / HTTP/1.1\r\nHost: a\r\nAuthorization: Basic " + pair.toBase64() +
                                "\r\n\r\n",
                            "\r\n\r\n");
        };
        QVERIFY(as("quillby:pw").startsWith("HTTP/1.1 200 "));
        QVERIFY(origin.seen.startsWith("GET / ") && !origin.seen.contains("Authorization"));
        for (int i = 0; i < 10; ++i)
            QVERIFY(as("quillby:no").startsWith("HTTP/1.1 401 "));
        QVERIFY(as("quillby:pw").startsWith("HTTP/1.1 429 "));
        QCOMPARE(origin.requests(), 1);
    }

    void edgeLimits_data() {
        QTest::addColumn<Edge>("e");
        const QByteArray events =
            "HTTP/1.1 200 OK\r\nContent-Type: Text/Event-Stream; charset=utf-8"
            "\r\nContent-Length: 2\r\n\r\nok";
        QTest::newRow("events on a quick tunnel")
            << Edge{events, true, 1, 60000, {.eventStream = true}};
        QTest::newRow("events on the user's domain") << Edge{events, false, 1, 60000, {}};
        QTest::newRow("199 with no first byte in time")
            << Edge{{}, true, 199, 50, {.slowMethod = "POST", .slowPath = "/slow"}};
        QTest::newRow("200 in flight") << Edge{{}, true, 200, 60000, {.inFlightLimit = true}};
    }
    void edgeLimits() {
        QFETCH(Edge, e);
        RawOrigin origin;
        origin.reply = e.reply;
        Recorder gateway;
        gateway.setEdgeLimits(
            {std::chrono::milliseconds(e.firstByteMs), 200, std::chrono::milliseconds(300)});
        gateway.setQuickTunnel(e.quick);
        // Nothing to tell: the captures say when every answer went by.
        const bool silent = e.told == GatewayStatus{};
        gateway.setCapture(silent);
        connect(&gateway, &Gateway::statusChanged, this, [&] {
            QVERIFY(gateway.status() == e.told || gateway.status() == GatewayStatus{});
        });
        QVERIFY(gateway.start(origin.serverPort()));
        std::vector<QTcpSocket> visitors(std::size_t(e.requests));
        for (QTcpSocket& visitor : visitors) {
            visitor.connectToHost(QHostAddress::LocalHost, gateway.port());
            visitor.write("POST /slow?token=1 HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n\r\n");
        }
        if (silent)
            QTRY_COMPARE(int(gateway.seen.size()), e.requests);
        else
            QTRY_VERIFY(gateway.status() == e.told);
        QTRY_VERIFY(gateway.status() == GatewayStatus{}); // gone by itself
    }

    // Capture off: counts only, nothing kept; switched on live, exchanges come.
    void countsAndCapture() {
        RawOrigin origin;
        Recorder gateway;
        QVERIFY(gateway.start(origin.serverPort()));
        QVERIFY(!gateway.lastRequestAt().isValid());
        const QDateTime before = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < 3; ++i)
            QVERIFY(get(gateway.port()).endsWith("ok"));
        QCOMPARE(gateway.requests(), 3u);
        QVERIFY(gateway.lastRequestAt() >= before.addMSecs(-1) &&
                gateway.lastRequestAt() <= QDateTime::currentDateTimeUtc());
        gateway.setCapture(true);
        QVERIFY(get(gateway.port(), "/seen").endsWith("ok"));
        QTRY_COMPARE(gateway.seen.size(), 1); // and none of the three before
        QCOMPARE(gateway.seen.first().target, "/seen"_ba);
        QCOMPARE(gateway.requests(), 4u);
    }

    // The server goes (the gateway's own 502 page, captured as refused) and comes back on ::1;
    // the port changes under a kept-alive connection: every request finds it.
    void followsTheServer() {
        RawOrigin v4, other;
        const quint16 port = v4.serverPort();
        Recorder gateway;
        gateway.setCapture(true);
        QVERIFY(gateway.start(port));
        QVERIFY(get(gateway.port()).endsWith("ok"));
        v4.close();
        const QByteArray page = get(gateway.port(), "/", "</p>");
        QVERIFY(page.startsWith("HTTP/1.1 502 Bad Gateway"));
        QVERIFY(page.contains(u"nothing listens on port %1 on this computer"_s.arg(port).toUtf8()));
        QTRY_VERIFY(!gateway.status().answers);
        QTRY_VERIFY(!gateway.seen.isEmpty() && gateway.seen.last().originRefused);
        QVERIFY(v4.listen(QHostAddress::LocalHostIPv6, port));
        QVERIFY(get(gateway.port()).endsWith("ok"));
        QTRY_VERIFY(gateway.status().answers);
        // A log outlives its gateway's run: replays after a restart find the server on ::1 too,
        // each told by the id it returned, even between identical requests.
        gateway.stop();
        QVERIFY(gateway.start(port));
        const QList<HttpExchange>& seen = gateway.seen;
        const QList<quint64> ids{gateway.replay(seen[0]), gateway.replay(seen[2])};
        QTRY_COMPARE(seen.size(), 5);
        QVERIFY(ids[0] != ids[1] && ids[0] > seen[2].id);
        for (int i : {0, 1})
            QVERIFY(seen[3 + i].id == ids[i] && seen[3 + i].replayed && seen[3 + i].status == 200);

        QTcpSocket visitor;
        visitor.connectToHost(QHostAddress::LocalHost, gateway.port());
        const QByteArray request = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
        visitor.write(request);
        QTRY_COMPARE(v4.requests(), 5);
        gateway.setOriginPort(other.serverPort());
        visitor.write(request);
        QTRY_COMPARE(other.requests(), 1);
        QCOMPARE(v4.requests(), 5);
    }
};

QTEST_GUILESS_MAIN(GatewayTest)
#include "tst_gateway.moc"
