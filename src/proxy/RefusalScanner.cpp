#include "proxy/RefusalScanner.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::string_view webpackText = "Invalid Host header";
constexpr std::string_view nextText = "Unauthorized";

struct Needle {
    HostCheck check;
    std::string_view text;
    unsigned status;
};

// The dev servers' own words, as they write them, anywhere in the scanned start.
constexpr Needle needles[] = {
    {HostCheck::Vite, "Blocked request. This host", 403},
    {HostCheck::Webpack, webpackText, 403},
    {HostCheck::Django, "Invalid HTTP_HOST header", 400},
    {HostCheck::Rails, "Blocked hosts", 403},
    {HostCheck::Rails, "Blocked host:", 403},
};

} // namespace

void RefusalScanner::begin(unsigned status, bool nextJsRequest, bool encoded) {
    m_status = status;
    m_nextJsRequest = nextJsRequest;
    // Other statuses are looked at only for webpack-dev-server before 4, which answered 200.
    m_active = !encoded;
    m_seen = 0;
    m_carrySize = 0;
    m_headSize = 0;
    m_found = HostCheck::None;
}

void RefusalScanner::feed(const char* data, std::size_t size) {
    if (!m_active || size == 0)
        return;
    size = std::min(size, scanLimit - m_seen);
    m_seen += size;
    const std::size_t toHead = std::min(size, headMax - m_headSize);
    std::memcpy(m_head + m_headSize, data, toHead);
    m_headSize += toHead;
    lookAtHead();
    if (refusing() && m_found == HostCheck::None) {
        // The carried tail joins the head of this piece, so a needle cut in two is still found.
        const std::size_t head = std::min(size, carryMax);
        std::memcpy(m_carry + m_carrySize, data, head);
        look(std::string_view(m_carry, m_carrySize + head));
        if (m_found == HostCheck::None && size > head)
            look(std::string_view(data, size));
        const std::size_t total = m_carrySize + head;
        if (size > head) {
            std::memcpy(m_carry, data + size - carryMax, carryMax);
            m_carrySize = carryMax;
        } else {
            const std::size_t drop = total > carryMax ? total - carryMax : 0;
            std::memmove(m_carry, m_carry + drop, total - drop);
            m_carrySize = total - drop;
        }
    }
    if (m_found != HostCheck::None || m_seen >= scanLimit || (!refusing() && m_headSize == headMax))
        m_active = false;
}

// Words a whole body starts with: Next.js answers its dev resources with a bare word.
void RefusalScanner::lookAtHead() {
    const std::string_view head(m_head, m_headSize);
    if (head.substr(0, webpackText.size()) == webpackText)
        m_found = HostCheck::Webpack;
    else if (m_nextJsRequest && m_status == 403 && head.substr(0, nextText.size()) == nextText)
        m_found = HostCheck::Next;
}

void RefusalScanner::look(std::string_view text) {
    for (const Needle& needle : needles) {
        if (needle.status == m_status && text.find(needle.text) != std::string_view::npos) {
            m_found = needle.check;
            return;
        }
    }
}
