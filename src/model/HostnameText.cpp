#include "model/HostnameText.h"

#include <QRegularExpression>

std::optional<QString> parseHostnameText(QStringView text) {
    static const QRegularExpression host(QStringLiteral(
        "^(?:[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?\\.)+[a-z][a-z0-9-]{0,61}[a-z0-9]$"));
    const QString name = text.trimmed().toString().toLower();
    if (!name.isEmpty() && (name.size() > 253 || !host.match(name).hasMatch()))
        return std::nullopt;
    return name;
}
