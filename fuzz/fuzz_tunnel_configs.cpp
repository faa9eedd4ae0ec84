// Decoding a saved tunnel list: any bytes under "tunnelConfigs" either fail as a whole or
// give a list that survives a save and a reload unchanged.
#include "model/TunnelConfig.h"

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const QByteArray& a, const QByteArray& b) {
    std::fprintf(stderr, "%s\n  first:  %s\n  second: %s\n", what, a.constData(), b.constData());
    std::abort();
}

bool sameExactly(const QList<TunnelConfig>& a, const QList<TunnelConfig>& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || a[i].name != b[i].name || a[i].port != b[i].port)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto decoded = decodeTunnelConfigs(input);
    if (!decoded)
        return 0;

    // What the store would write back.
    const QByteArray saved = encodeTunnelConfigs(*decoded);
    const auto reloaded = decodeTunnelConfigs(saved);
    if (!reloaded)
        fail("a saved list does not load again", input, saved);
    if (*reloaded != *decoded)
        fail("a saved list loads as a different list", input, saved);
    if (!sameExactly(*reloaded, *decoded))
        fail("a saved list changes a name, an id or a port on reload", input, saved);
    // Saving what was reloaded writes the very same bytes.
    const QByteArray savedAgain = encodeTunnelConfigs(*reloaded);
    if (savedAgain != saved)
        fail("saving a reloaded list writes different bytes", saved, savedAgain);
    return 0;
}
