// A request line on the control socket, as any local client may send it: any bytes either
// fail with an error code and message or give a request whose own line is one line of JSON
// that parses back to the same request.
#include "control/ControlRequest.h"

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ControlRequest::Parsed parsed = ControlRequest::parse(line);
    if (const auto* error = std::get_if<ControlError>(&parsed)) {
        if (ControlError::nameOf(error->code).isEmpty() || error->message.isEmpty())
            std::abort();
        return 0;
    }
    const ControlRequest& request = std::get<ControlRequest>(parsed);
    const QByteArray encoded = request.encode();
    if (!encoded.endsWith('\n') || encoded.count('\n') != 1) {
        std::fprintf(stderr, "not one line: %s\n", encoded.constData());
        std::abort();
    }
    const QByteArray again = encoded.chopped(1);
    if (again.size() > ControlRequest::maxLineBytes)
        return 0; // names re-encoded with replacement characters can grow past the bound
    const ControlRequest::Parsed reparsed = ControlRequest::parse(again);
    const auto* back = std::get_if<ControlRequest>(&reparsed);
    if (!back || !(*back == request)) {
        std::fprintf(stderr, "no round trip:\n  input:   %s\n  encoded: %s\n", line.constData(),
                     encoded.constData());
        std::abort();
    }
    return 0;
}
