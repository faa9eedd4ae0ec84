#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the system's requests to end the program (SIGTERM, SIGINT and SIGHUP on POSIX systems)
// into a Qt signal on the GUI thread. One per process.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(int signalNumber);

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
};
