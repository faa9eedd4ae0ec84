#pragma once

#include <QObject>
#include <QTimer>

class TunnelStore;

// Quit: stop every tunnel, then finish no sooner than quitDelayMs later and never while a
// child process is still alive (a child that ignores the terminate signal is killed by the
// model after its grace period).
class QuitSequence : public QObject {
    Q_OBJECT

public:
    static constexpr int quitDelayMs = 500;

    explicit QuitSequence(TunnelStore* store, QObject* parent = nullptr);

    void start();
    bool isStarted() const { return m_started; }

signals:
    void finished();

private:
    void checkDone();

    TunnelStore* m_store;
    QTimer m_delay;
    bool m_started = false;
    bool m_delayElapsed = false;
    bool m_allStopped = false;
    bool m_finished = false;
};
