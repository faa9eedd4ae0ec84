#include "proxy/WebSocketFrameReader.h"

#include <algorithm>
#include <boost/beast/core/string.hpp>
#include <boost/beast/zlib/inflate_stream.hpp>

namespace zlib = boost::beast::zlib;

namespace {

constexpr int continuationFrame = 0;
constexpr std::size_t scratchSize = 4096;

boost::beast::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return {text.data(), text.size()};
}

bool isControl(int opcode) {
    return opcode >= 8;
}

} // namespace

WebSocketFrameReader::Compression WebSocketFrameReader::negotiated(std::string_view extensions,
                                                                   bool toServer) {
    Compression compression;
    // The answer names what was agreed: extensions split by commas, parameters by semicolons.
    while (!extensions.empty() && !compression.on) {
        const std::size_t comma = extensions.find(',');
        std::string_view extension = extensions.substr(0, comma);
        extensions.remove_prefix(comma == std::string_view::npos ? extensions.size() : comma + 1);
        bool first = true;
        while (!extension.empty()) {
            const std::size_t semicolon = extension.find(';');
            const auto part = trimmed(extension.substr(0, semicolon));
            extension.remove_prefix(semicolon == std::string_view::npos ? extension.size()
                                                                        : semicolon + 1);
            if (first && !boost::beast::iequals(part, "permessage-deflate"))
                break;
            compression.on = true;
            if (!first && boost::beast::iequals(part, toServer ? "client_no_context_takeover"
                                                               : "server_no_context_takeover"))
                compression.noContextTakeover = true;
            first = false;
        }
    }
    return compression;
}

WebSocketFrameReader::WebSocketFrameReader(Compression compression)
    : m_compression(compression) {
    if (m_compression.on) {
        // The largest window reads what any smaller one wrote.
        m_inflater = std::make_unique<zlib::inflate_stream>();
        m_inflater->reset(15);
    }
}

WebSocketFrameReader::~WebSocketFrameReader() = default;
WebSocketFrameReader::WebSocketFrameReader(WebSocketFrameReader&&) noexcept = default;
WebSocketFrameReader& WebSocketFrameReader::operator=(WebSocketFrameReader&&) noexcept = default;

void WebSocketFrameReader::feed(const char* data, std::size_t size, QList<WebSocketMessage>& done) {
    while (size > 0 && !m_lost) {
        if (m_inPayload) {
            const std::size_t piece = std::size_t(std::min<std::uint64_t>(m_remaining, size));
            takePayload(data, piece);
            data += piece;
            size -= piece;
            m_remaining -= piece;
            if (m_remaining == 0)
                endFrame(done);
            continue;
        }
        m_header[m_headerHave++] = static_cast<unsigned char>(*data++);
        --size;
        if (m_headerHave < 2)
            continue;
        const unsigned length7 = m_header[1] & 0x7f;
        const std::size_t lengthBytes = length7 == 126 ? 2 : length7 == 127 ? 8 : 0;
        const std::size_t need = 2 + lengthBytes + ((m_header[1] & 0x80) ? 4 : 0);
        if (m_headerHave < need)
            continue;
        startFrame();
        if (!m_lost && m_remaining == 0)
            endFrame(done);
    }
}

void WebSocketFrameReader::startFrame() {
    m_headerHave = 0;
    m_fin = (m_header[0] & 0x80) != 0;
    const bool rsv1 = (m_header[0] & 0x40) != 0;
    m_opcode = m_header[0] & 0x0f;
    m_masked = (m_header[1] & 0x80) != 0;
    const unsigned length7 = m_header[1] & 0x7f;
    std::size_t at = 2;
    m_remaining = length7;
    if (length7 >= 126) {
        m_remaining = 0;
        for (std::size_t end = at + (length7 == 126 ? 2 : 8); at < end; ++at)
            m_remaining = (m_remaining << 8) | m_header[at];
    }
    if (m_masked)
        std::copy_n(m_header.begin() + std::ptrdiff_t(at), 4, m_mask.begin());
    m_offset = 0;
    // Anything RFC 6455 does not allow means these are not (or no longer) frames we follow.
    const bool known = m_opcode <= WebSocketMessage::Binary ||
                       (m_opcode >= WebSocketMessage::Close && m_opcode <= WebSocketMessage::Pong);
    const bool badControl = isControl(m_opcode) && (!m_fin || rsv1 || m_remaining > 125);
    const bool badData =
        !isControl(m_opcode) && ((m_opcode == continuationFrame) != m_inMessage ||
                                 (rsv1 && (m_opcode == continuationFrame || !m_compression.on)));
    if (!known || (m_header[0] & 0x30) || badControl || badData || (m_remaining >> 63)) {
        m_lost = true;
        return;
    }
    m_inPayload = true;
    if (isControl(m_opcode)) {
        m_control = WebSocketMessage{};
        m_control.opcode = m_opcode;
        m_control.size = qint64(m_remaining);
    } else if (m_opcode != continuationFrame) {
        m_inMessage = true;
        m_compressed = rsv1;
        m_message = WebSocketMessage{};
        m_message.opcode = m_opcode;
        m_message.unreadable = m_compressed && m_inflaterBroken;
        m_wireBytes = 0;
    }
}

void WebSocketFrameReader::takePayload(const char* data, std::size_t size) {
    if (!isControl(m_opcode))
        m_wireBytes = std::min<std::uint64_t>(m_wireBytes + size, std::uint64_t(INT64_MAX));
    if (!isControl(m_opcode) && m_message.unreadable)
        return; // counted in endFrame: its bytes on the wire are all it has
    const bool inflating = !isControl(m_opcode) && m_compressed;
    if (!inflating) {
        WebSocketMessage& message = isControl(m_opcode) ? m_control : m_message;
        if (!isControl(m_opcode))
            message.size = qint64(m_wireBytes);
        // Beyond what is kept, bytes are only counted.
        const std::size_t room = std::size_t(
            std::max<qsizetype>(0, WebSocketMessage::payloadCaptureLimit - message.payload.size()));
        keep(data, std::min(room, size));
        m_offset += size;
        return;
    }
    unsigned char clear[scratchSize];
    while (size > 0) {
        const std::size_t piece = std::min(size, scratchSize);
        for (std::size_t i = 0; i < piece; ++i)
            clear[i] =
                static_cast<unsigned char>(data[i]) ^ (m_masked ? m_mask[(m_offset + i) % 4] : 0);
        m_offset += piece;
        inflate(clear, piece);
        data += piece;
        size -= piece;
    }
}

void WebSocketFrameReader::keep(const char* data, std::size_t size) {
    WebSocketMessage& message = isControl(m_opcode) ? m_control : m_message;
    const qsizetype from = message.payload.size();
    message.payload.append(data, qsizetype(size));
    char* kept = message.payload.data() + from;
    if (m_masked)
        for (std::size_t i = 0; i < size; ++i)
            kept[i] = char(kept[i] ^ m_mask[(m_offset + i) % 4]);
}

void WebSocketFrameReader::inflate(const unsigned char* data, std::size_t size) {
    if (m_streamEnded)
        return;
    unsigned char out[scratchSize];
    zlib::z_params zs;
    zs.next_in = data;
    zs.avail_in = size;
    for (;;) {
        zs.next_out = out;
        zs.avail_out = sizeof out;
        const std::size_t before = zs.avail_in;
        boost::system::error_code ec;
        m_inflater->write(zs, zlib::Flush::sync, ec);
        const std::size_t produced = sizeof out - zs.avail_out;
        if (ec && ec != zlib::error::need_buffers && ec != zlib::error::end_of_stream) {
            // Marked, not fatal: the bytes still pass, only this view of them is gone.
            m_message.unreadable = true;
            m_message.payload.clear(); // how far it got depends on how the bytes came in
            m_inflaterBroken = true;
            return;
        }
        m_message.size += qint64(produced);
        const std::size_t room = std::size_t(std::max<qsizetype>(
            0, WebSocketMessage::payloadCaptureLimit - m_message.payload.size()));
        m_message.payload.append(reinterpret_cast<const char*>(out),
                                 qsizetype(std::min(room, produced)));
        if (ec == zlib::error::end_of_stream) {
            // A final block ends the message's stream; senders put nothing after it. Where
            // the inflater tells the end depends on how the bytes came in, so anything after
            // it is passed over rather than read as a stream of its own.
            m_inflater->reset();
            m_streamEnded = true;
            return;
        }
        if (produced == 0 && (zs.avail_in == 0 || zs.avail_in == before))
            return;
    }
}

void WebSocketFrameReader::endFrame(QList<WebSocketMessage>& done) {
    m_inPayload = false;
    if (isControl(m_opcode)) {
        done.append(std::move(m_control));
        m_control = WebSocketMessage{};
        return;
    }
    if (!m_fin)
        return;
    if (m_compressed && !m_message.unreadable && !m_streamEnded) {
        // The sender left out the end of its flush (RFC 7692, 7.2.1); put it back.
        static constexpr unsigned char tail[4] = {0x00, 0x00, 0xff, 0xff};
        inflate(tail, sizeof tail);
    }
    if (m_compressed && m_compression.noContextTakeover) {
        m_inflater->reset();
        m_inflaterBroken = false;
    }
    if (m_message.unreadable)
        m_message.size = qint64(m_wireBytes);
    m_message.payload.squeeze();
    done.append(std::move(m_message));
    m_message = WebSocketMessage{};
    m_inMessage = false;
    m_compressed = false;
    m_streamEnded = false;
}
