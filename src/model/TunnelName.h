#pragma once

#include <QString>

// A tunnel name as the user typed it, with the spaces and tabs around it removed; line
// breaks stay. An empty result is no name at all.
QString trimTunnelName(const QString& text);
