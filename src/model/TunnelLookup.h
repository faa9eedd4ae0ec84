#pragma once

#include "model/TunnelConfig.h"

#include <QList>
#include <QString>

// Which tunnels a name, a port or an id, as typed on the command line, stands for; the
// positions in `tunnels`. A whole id (any case, braces or not) is the answer at once, even
// when another tunnel's name or port matches too. Otherwise every tunnel matches whose name
// is the text (trimmed as names are), whose port it is, or whose id starts with it (8 or more
// hex digits and hyphens): one match is the answer, none or several the caller reports.
QList<qsizetype> lookUpTunnels(const QList<TunnelConfig>& tunnels, const QString& text);
