#pragma once

#include "proxy/WebSocketMessage.h"

#include <QList>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

namespace boost::beast::zlib {
class inflate_stream;
}

// Reads the WebSocket frames (RFC 6455) of one direction of an upgraded connection from the
// bytes as they pass, in pieces of any size, and tells each message once it is complete: data
// messages with their fragments joined, control frames (ping, pong, close) on their own.
// Masked payloads are unmasked, and with permessage-deflate (RFC 7692) compressed messages
// are inflated (one that does not inflate is marked unreadable, with its size as it passed and
// no payload). Only the first WebSocketMessage::payloadCaptureLimit bytes of a message are
// kept, whatever length a frame declares; work per byte is bounded, except that inflating
// costs what the output costs, as it does the receiving side. Bytes that are no WebSocket
// frames stop the reading for good (lost()); the bytes themselves are never touched.
class WebSocketFrameReader {
public:
    struct Compression {
        bool on = false;
        bool noContextTakeover = false; // the sender starts afresh with every message
    };
    // What an answer's Sec-WebSocket-Extensions agreed for the given direction.
    static Compression negotiated(std::string_view extensions, bool toServer);

    explicit WebSocketFrameReader(Compression compression);
    ~WebSocketFrameReader();
    WebSocketFrameReader(WebSocketFrameReader&&) noexcept;
    WebSocketFrameReader& operator=(WebSocketFrameReader&&) noexcept;

    // Appends the messages these bytes complete to `done`, with opcode, size, payload and
    // unreadable set; the rest is the caller's to fill in.
    void feed(const char* data, std::size_t size, QList<WebSocketMessage>& done);
    bool lost() const { return m_lost; }

private:
    void startFrame();
    void takePayload(const char* data, std::size_t size);
    void inflate(const unsigned char* data, std::size_t size);
    void keep(const char* data, std::size_t size);
    void endFrame(QList<WebSocketMessage>& done);

    Compression m_compression;
    std::unique_ptr<boost::beast::zlib::inflate_stream> m_inflater;
    bool m_inflaterBroken = false; // until it starts afresh
    bool m_streamEnded = false;    // a final block came; the rest of the message is not read

    std::array<unsigned char, 14> m_header{};
    std::size_t m_headerHave = 0;
    bool m_inPayload = false;
    bool m_fin = false;
    int m_opcode = 0;
    std::array<unsigned char, 4> m_mask{};
    bool m_masked = false;
    std::uint64_t m_remaining = 0;
    std::uint64_t m_offset = 0; // into the frame's payload, for the mask

    bool m_inMessage = false; // a data message whose last frame is still to come
    bool m_compressed = false;
    std::uint64_t m_wireBytes = 0; // of the data message's payloads as they passed
    WebSocketMessage m_message;
    WebSocketMessage m_control;
    bool m_lost = false;
};
