#include "ports/PortResult.h"

#include <QHashFunctions>

size_t qHash(const PortResult& result, size_t seed) noexcept {
    // The port first, then the flag.
    return qHashMulti(seed, result.port, result.isOpen);
}
