#include "app/Session.h"

#include "app/QuillbyApp.h"
#include "control/ControlServer.h"
#include "control/SingleInstance.h"
#include "model/SaveLock.h"
#include "platform/LoginItem.h"
#include "platform/Notifier.h"
#include "platform/SignalWatcher.h"

#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <memory>

int runSession(const std::function<void(QuillbyApp&)>& started) {
    // A tray application: closing the window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (!instance.claim()) {
        if (instance.handOver())
            return 0;
        const QString message = QCoreApplication::translate(
            "Session", "quillby: another instance holds the lock but does not answer");
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    // Installed before the tunnels can start, so a logout never leaves one behind.
    SignalWatcher signalWatcher;

    QSettings settings;
    // We are the only Quillby now: an empty save lock was left by one that was killed.
    clearAbandonedSaveLock(settings);
    const auto notifier = createPlatformNotifier();
    const auto loginItem = createPlatformLoginItem();
    QuillbyApp quillby({&settings, notifier.get(), loginItem.get(), {}});
    std::unique_ptr<ControlServer> control;
    if (instance.server()) {
        control = std::make_unique<ControlServer>(instance.server(), quillby.store());
        QObject::connect(control.get(), &ControlServer::showRequested, &quillby,
                         &QuillbyApp::showWindow);
    }
    QObject::connect(&signalWatcher, &SignalWatcher::received, &quillby, &QuillbyApp::quit);
    QObject::connect(&quillby, &QuillbyApp::finished, qApp, [] { QCoreApplication::exit(0); });
    quillby.start();
    if (started)
        started(quillby);
    return QApplication::exec();
}
