#pragma once

#include "control/ControlError.h"

#include <QCoreApplication>
#include <QString>

class ControlConnection;
class ControlRequest;
class TunnelInstance;
class TunnelStore;

// What the server does for one command of the table in CommandSpec: one subclass a command,
// picked by ControlServer from the request's command. Every change goes through the store
// and instance operations the window uses, so the window, the tray icon and the
// notifications follow at once.
class CommandHandler {
    Q_DECLARE_TR_FUNCTIONS(CommandHandler)

public:
    // store: the application's (not owned).
    explicit CommandHandler(TunnelStore* store)
        : m_store(store) {}
    virtual ~CommandHandler() = default;

    // Replies on the connection, at once or later: what waits is made the connection's child,
    // so that a client gone, or the server closing, ends the wait.
    virtual void execute(ControlConnection& connection, const ControlRequest& request) = 0;

protected:
    // The one tunnel a name, port or id stands for; otherwise fails with the error.
    TunnelInstance* resolve(ControlConnection& connection, const QString& text) const;
    // Starts it unless it runs; fails with the error when it cannot.
    bool start(ControlConnection& connection, TunnelInstance* tunnel) const;
    // A name given as only blanks (add, set).
    static ControlError emptyName();
    // 'name', as the commands' messages quote a tunnel.
    static QString quoted(const TunnelInstance& tunnel);

    TunnelStore* m_store;
};
