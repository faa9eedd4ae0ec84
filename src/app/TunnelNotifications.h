#pragma once

#include <QObject>

class Notifier;
class TunnelInstance;
class TunnelStore;

// Tells the user, through the desktop's notifications, what happens to the tunnels: one
// became active (with buttons to open or copy its URL), lost every connection for a while,
// failed to start, ended without being asked, or stopped at the time limit it was given; a
// removed one's named tunnel could not be deleted from the account. The tunnels and the store
// only say what happened; the words and the actions are chosen here.
class TunnelNotifications : public QObject {
    Q_OBJECT

public:
    // notifier: not owned; must outlive this object.
    explicit TunnelNotifications(Notifier* notifier, QObject* parent = nullptr);

    // Follows every tunnel of the store, those added later included.
    void watch(TunnelStore* store);
    void watch(TunnelInstance* tunnel);

private:
    void post(const QString& title, const QString& body);

    Notifier* m_notifier;
};
