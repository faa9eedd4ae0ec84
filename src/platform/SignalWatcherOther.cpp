#include "platform/SignalWatcher.h"

// Systems without POSIX signals end a windowed program through its event loop instead
// (a close or logout request reaches QApplication), so there is nothing to watch.
SignalWatcher::SignalWatcher(QObject* parent)
    : QObject(parent) {}

SignalWatcher::~SignalWatcher() = default;

void SignalWatcher::readSignals() {}
