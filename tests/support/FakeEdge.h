#pragma once

#include <string>

// The stand-in client's edge: a loopback HTTP listener that forwards each request to the
// tunnel's --url the way a request through the real edge and client arrives there. The Host
// is the public name, the edge's forwarding headers and the client's connector tag are added,
// a browser's Origin and Referer name the public https URL, and WebSocket upgrades pass
// through as raw bytes both ways. Plain HTTP on the listening side: a browser reaches it by
// mapping the public name to the port (Chromium's --host-resolver-rules).
//
//   FAKE_CF_EDGE=1          listen on an ephemeral port, written to FAKE_CF_EDGE_PORT_FILE
//
// Returns false when it is not set; exits with status 4 when the listener cannot start.
bool startFakeEdgeIfAsked(const std::string& originUrl, const std::string& publicUrl);
