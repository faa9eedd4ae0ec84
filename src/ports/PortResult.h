#pragma once

#include <QMetaType>
#include <QtGlobal>

// One probed port. Its identity in lists is the port.
struct PortResult {
    qint64 port = 0;
    bool isOpen = false;

    friend bool operator==(const PortResult&, const PortResult&) = default;
};

size_t qHash(const PortResult& result, size_t seed = 0) noexcept;

Q_DECLARE_METATYPE(PortResult)
