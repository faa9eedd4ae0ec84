#pragma once

#include <QCoreApplication>
#include <QString>

// The names Quillby gives tunnels itself, written once for the window, the port scanner and
// the command line.
class TunnelName {
    Q_DECLARE_TR_FUNCTIONS(TunnelName)

public:
    // A tunnel added with "+" or `quillby add` without a name, and the first one ever made.
    static QString defaultName();
    // A tunnel added for a port: picked in the scanner, or shared with `quillby share`.
    static QString forPort(qint64 port);
};

// A tunnel name as the user typed it, with the spaces and tabs around it removed; line
// breaks stay. An empty result is no name at all.
QString trimTunnelName(const QString& text);
