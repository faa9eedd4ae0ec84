// The client's standard error, fed to ClientLogClassifier in arbitrary chunks: whatever the
// read boundaries, the reading must equal that of the whole stream fed at once (URL,
// connections, current problem, the problem for a failed exit), and nothing may crash or
// grow without bound.
//
// Input layout (FuzzedDataProvider): chunk sizes are taken from the end, the stream is the
// rest. Lines stay within the pending bound (64 KiB), past which a line is read as it stands.
#include "model/ClientLogClassifier.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

struct Reading {
    std::optional<QString> url;
    int connections = 0;
    ClientLogClassifier::Problem problem, exitProblem;
};

bool same(const ClientLogClassifier::Problem& a, const ClientLogClassifier::Problem& b) {
    return a.sameAs(b) && a.line == b.line;
}

template <typename Feed> Reading read(Feed feed) {
    ClientLogClassifier classifier;
    Reading reading;
    feed([&](QByteArrayView chunk) {
        if (auto url = classifier.feed(chunk); url && !reading.url)
            reading.url = url;
    });
    if (auto url = classifier.finish(); url && !reading.url)
        reading.url = url;
    reading.connections = classifier.connections();
    reading.problem = classifier.problem();
    reading.exitProblem = classifier.exitProblem();
    if (reading.exitProblem.line.size() > ClientLogClassifier::maxErrorLine)
        std::abort();
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<size_t> chunkSizes(provider.ConsumeIntegralInRange<size_t>(1, 16));
    for (size_t& chunkSize : chunkSizes)
        chunkSize = provider.ConsumeIntegralInRange<size_t>(1, 300);
    const std::string stream = provider.ConsumeRemainingBytesAsString();
    size_t lineStart = 0;
    for (size_t i = 0; i <= stream.size(); ++i) {
        if (i == stream.size() || stream[i] == '\n') {
            if (i - lineStart > static_cast<size_t>(TunnelUrlScanner::maxPendingLine))
                return -1;
            lineStart = i + 1;
        }
    }

    const QByteArrayView all(stream.data(), static_cast<qsizetype>(stream.size()));
    const Reading whole = read([&](auto feed) { feed(all); });
    const Reading chunked = read([&](auto feed) {
        size_t pos = 0;
        for (size_t turn = 0; pos < stream.size(); ++turn) {
            const size_t length =
                std::min(stream.size() - pos, chunkSizes[turn % chunkSizes.size()]);
            feed(all.sliced(static_cast<qsizetype>(pos), static_cast<qsizetype>(length)));
            pos += length;
        }
    });
    if (whole.url != chunked.url || whole.connections != chunked.connections ||
        !same(whole.problem, chunked.problem) || !same(whole.exitProblem, chunked.exitProblem))
        std::abort();
    return 0;
}
