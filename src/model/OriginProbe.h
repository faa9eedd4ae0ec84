#pragma once

#include <QObject>
#include <functional>

// Whether a local server accepts connections on a port, on 127.0.0.1 or ::1, for the problem
// line. The gateway finds the server on either address at every connection; this look only
// says whether there is one. It never blocks: both connects are made at once on the calling
// thread's event loop.
namespace OriginProbe {

// A connect still pending after this long (a full listen queue) counts as nothing listening.
inline constexpr int timeoutMs = 1000;

// Calls done(listening) once on context's thread, unless context is gone by then.
void look(qint64 port, QObject* context, std::function<void(bool listening)> done);

} // namespace OriginProbe
