#include "app/QuitSequence.h"

#include "model/TunnelStore.h"

QuitSequence::QuitSequence(TunnelStore* store, QObject* parent)
    : QObject(parent)
    , m_store(store) {
    m_delay.setSingleShot(true);
    // Never early: a coarse timer may fire up to 5% before its time.
    m_delay.setTimerType(Qt::PreciseTimer);
    m_delay.setInterval(quitDelayMs);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        m_delayElapsed = true;
        checkDone();
    });
}

void QuitSequence::start() {
    // A second Quit (or a signal during Quit) changes nothing.
    if (m_started)
        return;
    m_started = true;
    // Connected first: allStopped comes at once when no child runs.
    connect(m_store, &TunnelStore::allStopped, this, [this] {
        m_allStopped = true;
        checkDone();
    });
    m_delay.start();
    m_store->stopAll();
}

void QuitSequence::checkDone() {
    if (m_delayElapsed && m_allStopped && !m_finished) {
        m_finished = true;
        emit finished();
    }
}
