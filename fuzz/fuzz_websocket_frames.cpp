// One direction of an upgraded connection, fed to WebSocketFrameReader in arbitrary pieces:
// whatever the read boundaries, the messages must equal those of the whole stream fed at once,
// no message may keep more than its capture limit, and nothing may crash. Compressed bytes
// that do not inflate may be found out a message later or sooner depending on the split (the
// inflater tells a final block's end only when more input comes), so readings with an
// unreadable message are only checked for their bounds.
//
// Input layout (FuzzedDataProvider): the last byte picks compression, the chunk sizes come
// before it from the end, the stream is the rest.
#include "proxy/WebSocketFrameReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

struct Reading {
    QList<WebSocketMessage> messages;
    bool lost = false;
};

template <typename Feed> Reading read(WebSocketFrameReader::Compression compression, Feed feed) {
    WebSocketFrameReader reader(compression);
    Reading reading;
    feed([&](const char* data, size_t size) { reader.feed(data, size, reading.messages); });
    reading.lost = reader.lost();
    return reading;
}

bool same(const Reading& a, const Reading& b) {
    if (a.lost != b.lost || a.messages.size() != b.messages.size())
        return false;
    for (qsizetype i = 0; i < a.messages.size(); ++i) {
        const WebSocketMessage &x = a.messages[i], &y = b.messages[i];
        if (x.opcode != y.opcode || x.size != y.size || x.payload != y.payload ||
            x.unreadable != y.unreadable)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const uint8_t flags = provider.ConsumeIntegral<uint8_t>();
    const WebSocketFrameReader::Compression compression{(flags & 1) != 0, (flags & 2) != 0};
    std::vector<size_t> chunkSizes(provider.ConsumeIntegralInRange<size_t>(1, 16));
    for (size_t& chunkSize : chunkSizes)
        chunkSize = provider.ConsumeIntegralInRange<size_t>(1, 300);
    const std::string stream = provider.ConsumeRemainingBytesAsString();

    const Reading whole = read(compression, [&](auto feed) { feed(stream.data(), stream.size()); });
    const Reading chunked = read(compression, [&](auto feed) {
        size_t pos = 0;
        for (size_t turn = 0; pos < stream.size(); ++turn) {
            const size_t length =
                std::min(stream.size() - pos, chunkSizes[turn % chunkSizes.size()]);
            feed(stream.data() + pos, length);
            pos += length;
        }
    });
    for (const Reading* reading : {&whole, &chunked})
        for (const WebSocketMessage& message : reading->messages)
            if (message.payload.size() > WebSocketMessage::payloadCaptureLimit ||
                message.payload.size() > message.size)
                std::abort();
    auto inflated = [](const Reading& r) {
        return std::none_of(r.messages.begin(), r.messages.end(),
                            [](const WebSocketMessage& m) { return m.unreadable; });
    };
    if (inflated(whole) && inflated(chunked) && !same(whole, chunked))
        std::abort();
    return 0;
}
