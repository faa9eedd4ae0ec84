// WebSocket messages read from upgraded connections through the real gateway, between Beast's
// client and server on real sockets, into the tunnel's request log.
#include "model/ExchangeText.h"
#include "model/TunnelGateway.h"

#include <QtTest>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <thread>

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using tcp = asio::ip::tcp;
using Socket = websocket::stream<tcp::socket>;

namespace {

void setUp(Socket& ws, bool deflate, bool fragment) {
    websocket::permessage_deflate pmd;
    pmd.client_enable = pmd.server_enable = deflate;
    ws.set_option(pmd);
    ws.auto_fragment(fragment);
    ws.write_buffer_bytes(16); // frames of 16 bytes when fragmenting, compressed or not
}

// A dev server, and a visitor through the tunnel's gateway in front of it: the server sends
// every message back as it came, until the visitor closes.
struct Connection {
    asio::io_context io;
    tcp::acceptor acceptor{io, {asio::ip::address_v4::loopback(), 0}};
    std::jthread server;
    TunnelGateway gateway;
    Socket ws{io};
    Connection(bool deflate, bool fragment) {
        server = std::jthread([this, deflate, fragment] {
            Socket ws(acceptor.accept());
            setUp(ws, deflate, fragment);
            boost::system::error_code ec;
            for (ws.accept(ec); !ec;) {
                boost::beast::flat_buffer buffer;
                ws.read(buffer, ec);
                ws.text(ws.got_text());
                if (!ec)
                    ws.write(buffer.data(), ec);
            }
        });
        gateway.setOptions({.port = acceptor.local_endpoint().port(), .inspect = true});
        gateway.start(nullptr);
        ws.next_layer().connect({asio::ip::address_v4::loopback(), gateway.port()});
        setUp(ws, deflate, fragment);
        ws.handshake("quiet-river.trycloudflare.com", "/live");
    }
    // The upgraded entry's messages as "<direction><opcode>/<size>:<payload>", once `count`.
    QByteArrayList messages(qsizetype count) {
        RequestLog* log = gateway.log();
        auto done = [&] { return log->rowCount() && log->exchangeAt(0).messages.size() >= count; };
        QByteArrayList got;
        if (QTest::qWaitFor(done, 5000))
            for (const WebSocketMessage& m : log->exchangeAt(0).messages)
                got << (m.toServer ? "S" : "C") + QByteArray::number(m.opcode) + '/' +
                           QByteArray::number(m.size) + ':' + (m.opcode == 8 ? "" : m.payload);
        return got;
    }
};

} // namespace

class WebSocketTest : public QObject {
    Q_OBJECT

private slots:
    // Capture off is tst_gateway's countsAndCapture: an upgrade's entry and its frame readers
    // hang on the same switch as every other entry.
    void messages_data() {
        QTest::addColumn<bool>("deflate");
        QTest::addColumn<bool>("fragment");
        QTest::addColumn<QByteArrayList>("sent"); // '1' text or '2' binary, then the payload
        const QByteArray binary("2\x00\x01\xfe\xff\x80", 6);
        const QByteArray json = "1{\"type\":\"update\",\"updates\":[{\"path\":\"/src/App.tsx\","
                                "\"acceptedPath\":\"/src/main.tsx\",\"timestamp\":1765085441203}]}";
        QTest::newRow("text, masked") << false << false << QByteArrayList{"1hello"};
        QTest::newRow("binary, fragmented") << false << true << QByteArrayList{json, binary};
        QTest::newRow("compressed")
            << true << false << QByteArrayList{json, json, binary + QByteArray(300, 'x')};
        QTest::newRow("compressed, fragmented, over 4 KiB")
            << true << true << QByteArrayList{'1' + json.repeated(200), json};
    }
    void messages() {
        QFETCH(bool, deflate);
        QFETCH(bool, fragment);
        QFETCH(QByteArrayList, sent);
        Connection connection(deflate, fragment);
        QByteArrayList expected;
        for (const QByteArray& message : sent) {
            const QByteArray payload = message.mid(1);
            connection.ws.text(message.startsWith('1'));
            connection.ws.write(asio::buffer(payload.data(), std::size_t(payload.size())));
            boost::beast::flat_buffer echo;
            QCOMPARE(connection.ws.read(echo), std::size_t(payload.size()));
            const QByteArray kept = message.left(1) + '/' + QByteArray::number(payload.size()) +
                                    ':' + payload.left(4096);
            expected << 'S' + kept << 'C' + kept;
        }
        connection.ws.close(websocket::close_code::normal);
        expected += {"S8/2:", "C8/2:"};
        QCOMPARE(connection.messages(expected.size()), expected);
        RequestLog* log = connection.gateway.log();
        QCOMPARE(log->rowCount(), 1);
        QCOMPARE(ExchangeText::response(log->exchangeAt(0)).contains("deflate"), deflate);
        QCOMPARE(log->heldBytes(), log->exchangeAt(0).heldBytes()); // the bound counts them
    }

    // Frames written by hand, masked with a zero key: what Beast does not send.
    void rawFrames_data() {
        QTest::addColumn<QByteArray>("frames"); // hex
        QTest::addColumn<QByteArrayList>("read");
        // Only counted, never kept beyond 4 KiB; the server ends it with 1009 (too big).
        QTest::newRow("8 EiB declared")
            << QByteArray("82ff7fffffffffffffff00000000" + QByteArray(8192, 'a'))
            << QByteArrayList{"C8/2:"};
        // The second inflates only with the window the first left.
        const QByteArray quillby = "1/15:quillby quillby";
        QTest::newRow("compressed against the message before")
            << QByteArray("c18d000000002a2ccdccc949aa542884d00000c185000000002a44e50200")
            << QByteArrayList{'S' + quillby, 'S' + quillby, 'C' + quillby, 'C' + quillby};
    }
    void rawFrames() {
        QFETCH(QByteArray, frames);
        QFETCH(QByteArrayList, read);
        Connection connection(true, false);
        const QByteArray bytes = QByteArray::fromHex(frames);
        asio::write(connection.ws.next_layer(),
                    asio::buffer(bytes.data(), std::size_t(bytes.size())));
        QCOMPARE(connection.messages(read.size()), read);
    }

    // Each entry keeps its newest messages. That they count against the log's byte bound is in
    // messages(), the bound itself in tst_capture.
    void bound() {
        RequestLog log;
        log.append({HttpExchange{.id = 1}});
        log.appendMessages(
            QList<WebSocketMessage>(1200, {1, {}, true, 1, 5000, QByteArray(4096, 'm')}));
        QCOMPARE(log.exchangeAt(0).messages.size(), HttpExchange::maxMessages);
        QCOMPARE(log.exchangeAt(0).messagesDropped, 200);
    }
};

QTEST_GUILESS_MAIN(WebSocketTest)
#include "tst_websocket.moc"
