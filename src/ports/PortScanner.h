#pragma once

#include "ports/PortResult.h"

#include <QList>
#include <QObject>
#include <array>
#include <functional>

// Finds which of a fixed list of local ports have a TCP listener, on 127.0.0.1 and ::1.
// Probes open and close a connection at once and send no data.
namespace PortScanner {

inline constexpr std::array<qint64, 18> commonPorts{80,   443,  3000, 3001, 4000, 4200,
                                                    5000, 5173, 5174, 5500, 8000, 8001,
                                                    8080, 8081, 8443, 8888, 9000, 9090};
inline constexpr int probeTimeoutMs = 150;

// One port on one loopback address; blocks for at most about timeoutMs.
bool probeIPv4(qint64 port, int timeoutMs);
bool probeIPv6(qint64 port, int timeoutMs);

// Probes every port of the list at once (one round per address family), blocking the calling
// thread for about two time-outs at most. Open ports only, ascending, each once; a number that
// is no TCP port (outside 0 to 65535) is never reported.
QList<PortResult> scanPortsBlocking(const QList<qint64>& ports = {commonPorts.begin(),
                                                                  commonPorts.end()});

// Runs the scan away from the calling thread and hands the result to `done` on the thread of
// `context`, which must not be null (dropped when context is gone by then). A scan thread still
// running when the application object goes away is waited for.
void scanPorts(QObject* context, std::function<void(QList<PortResult>)> done,
               QList<qint64> ports = {commonPorts.begin(), commonPorts.end()});

} // namespace PortScanner
