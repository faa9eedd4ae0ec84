// The client's standard error, fed to TunnelUrlScanner in arbitrary chunks: every chunk must
// give exactly the first URL among the lines it completes, as a scan of each whole line
// finds it, and the end of the stream the URL of the last unfinished line. Each line's
// answer must also match a separate byte-level reading of the URL rule, and the service's
// own api host is never taken.
//
// Input layout (FuzzedDataProvider): chunk sizes are taken from the end, the stream is the
// rest. Lines stay within the scanner's pending bound (64 KiB); a longer line is scanned as
// it stands when the bound is hit, which depends on the chunking by design.
#include "model/TunnelUrlScanner.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Url = std::optional<QString>;

[[noreturn]] void fail(const char* what, const Url& got, const Url& want) {
    std::fprintf(stderr, "%s: got %s, want %s\n", what, got ? got->toUtf8().constData() : "none",
                 want ? want->toUtf8().constData() : "none");
    std::abort();
}

// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence at the end.
bool isUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        if (s[i + 1] < low || s[i + 1] > high)
            return false;
        for (size_t k = 2; k < length; ++k) {
            if (s[i + k] < 0x80 || s[i + k] > 0xBF)
                return false;
        }
        i += length;
    }
    return true;
}

bool isLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

bool isApiLabel(std::string_view label) {
    return label.size() == 3 && (label[0] | 0x20) == 'a' && (label[1] | 0x20) == 'p' &&
           (label[2] | 0x20) == 'i';
}

// The first "https://" + label + ".trycloudflare.com" in a line of valid UTF-8 whose label
// is not "api" in any case.
Url referenceScanLine(std::string_view line) {
    if (!isUtf8(line))
        return std::nullopt;
    constexpr std::string_view scheme = "https://";
    constexpr std::string_view domain = ".trycloudflare.com";
    size_t at = 0;
    while ((at = line.find(scheme, at)) != std::string_view::npos) {
        const size_t labelStart = at + scheme.size();
        size_t labelEnd = labelStart;
        while (labelEnd < line.size() && isLabelChar(line[labelEnd]))
            ++labelEnd;
        if (labelEnd > labelStart && line.substr(labelEnd).starts_with(domain)) {
            const size_t end = labelEnd + domain.size();
            if (!isApiLabel(line.substr(labelStart, labelEnd - labelStart)))
                return QString::fromLatin1(line.data() + at, static_cast<qsizetype>(end - at));
            at = end;
        } else {
            ++at;
        }
    }
    return std::nullopt;
}

// A line's URL, asked of the scanner and checked against the reference.
Url wholeLineUrl(std::string_view line) {
    const Url url = TunnelUrlScanner::scanLine(QByteArrayView(line.data(), line.size()));
    const Url want = referenceScanLine(line);
    if (url != want)
        fail("scanLine disagrees with the URL rule", url, want);
    return url;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<size_t> chunkSizes(provider.ConsumeIntegralInRange<size_t>(0, 16));
    for (size_t& chunkSize : chunkSizes)
        chunkSize = provider.ConsumeIntegralInRange<size_t>(0, 300);
    const std::string stream = provider.ConsumeRemainingBytesAsString();

    // Lines, and the URL each one holds when scanned whole.
    std::vector<size_t> lineEnds; // index of each line's '\n'
    std::vector<Url> lineUrls;
    size_t lineStart = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] != '\n')
            continue;
        if (i - lineStart > static_cast<size_t>(TunnelUrlScanner::maxPendingLine))
            return -1;
        lineEnds.push_back(i);
        lineUrls.push_back(wholeLineUrl(std::string_view(stream).substr(lineStart, i - lineStart)));
        lineStart = i + 1;
    }
    if (stream.size() - lineStart > static_cast<size_t>(TunnelUrlScanner::maxPendingLine))
        return -1;
    const Url tailUrl = wholeLineUrl(std::string_view(stream).substr(lineStart));

    TunnelUrlScanner scanner;
    size_t pos = 0;
    size_t nextLine = 0;
    size_t turn = 0;
    size_t emptyInARow = 0;
    while (pos < stream.size()) {
        size_t length = stream.size() - pos;
        if (!chunkSizes.empty()) {
            length = std::min(length, chunkSizes[turn++ % chunkSizes.size()]);
            // Empty reads are fed too, but a whole round of them ends in one with the rest.
            emptyInARow = length == 0 ? emptyInARow + 1 : 0;
            if (emptyInARow > chunkSizes.size())
                length = stream.size() - pos;
        }
        const Url got =
            scanner.feed(QByteArrayView(stream.data() + pos, static_cast<qsizetype>(length)));
        pos += length;
        Url want;
        for (; nextLine < lineEnds.size() && lineEnds[nextLine] < pos; ++nextLine) {
            if (!want)
                want = lineUrls[nextLine];
        }
        if (got != want)
            fail("a chunk's URL differs from the whole-line scan", got, want);
        const size_t partial = pos - (nextLine == 0 ? 0 : lineEnds[nextLine - 1] + 1);
        if (static_cast<size_t>(scanner.pendingSize()) != partial)
            std::abort();
    }
    const Url last = scanner.finish();
    if (last != tailUrl)
        fail("the unfinished last line's URL differs", last, tailUrl);
    if (scanner.pendingSize() != 0)
        std::abort();
    return 0;
}
