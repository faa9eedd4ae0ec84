#pragma once

#include "proxy/HostCheck.h"

#include <cstddef>
#include <string_view>

// Recognises a dev server's host-check refusal in a response passing through, from its status
// and the first bytes of its body. Pieces are looked at as they go by and only a needle's
// length of them is kept, so a body is never held for this.
class RefusalScanner {
public:
    // Refusal pages put their words this far in at most (Django's and Rails' debug pages carry
    // their styles first).
    static constexpr std::size_t scanLimit = 32 * 1024;

    // Starts on a response's header. `nextJsRequest`: the request asked for /_next/...;
    // `encoded`: the body has a Content-Encoding, so its bytes are not text.
    void begin(unsigned status, bool nextJsRequest, bool encoded);
    void feed(const char* data, std::size_t size);
    HostCheck result() const { return m_found; }

private:
    static constexpr std::size_t carryMax = 32;
    static constexpr std::size_t headMax = 32;

    bool m_active = false;
    unsigned m_status = 0;
    bool m_nextJsRequest = false;
    std::size_t m_seen = 0;
    char m_carry[carryMax * 2 + 1] = {};
    std::size_t m_carrySize = 0;
    char m_head[headMax] = {}; // the body's first bytes
    std::size_t m_headSize = 0;
    HostCheck m_found = HostCheck::None;

    bool refusing() const { return m_status == 400 || m_status == 403; }
    void lookAtHead();
    void look(std::string_view text);
};
