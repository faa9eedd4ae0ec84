#pragma once

#include <string>

// The stand-in client's metrics server on its --metrics address, as the real client serves it
// (metrics/metrics.go, metrics/readiness.go): GET /ready answers 200 {"status":200,
// "readyConnections":N,"connectorId":"..."} while N >= 1 connections are registered, else 503
// with N = 0; GET /quicktunnel {"hostname":"NAME.trycloudflare.com"}; anything else 404.
//
//   FAKE_CF_METRICS=off     no metrics server at all
//
// An address that cannot be bound ends the client at once with its lines and status 1.

// The --metrics address ("127.0.0.1:PORT") and the client's version, which words the failure.
void setFakeMetricsAddress(const std::string& address, const std::string& version);
// Serves, from the first call on (the real client starts it once the quick tunnel exists).
void serveFakeMetrics(const std::string& publicUrl);
// Connections registered now, as /ready counts them.
void setFakeReadyConnections(int count);
