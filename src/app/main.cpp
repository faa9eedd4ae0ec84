#include "app/QuillbyApp.h"
#include "app/ScanCommand.h"
#include "app/SignalWatcher.h"
#include "app/SingleInstance.h"
#include "platform/LoginItem.h"
#include "platform/Notifier.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("Quillby"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillby"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLBY_VERSION));

    // The command line is read before any display is needed: --scan, --help and --version
    // work without one.
    {
        auto cli = std::make_unique<QCoreApplication>(argc, argv);
        QCommandLineParser parser;
        parser.setApplicationDescription(QCoreApplication::translate(
            "main", "Public HTTPS URLs for local ports, from the tray."));
        parser.addHelpOption();
        parser.addVersionOption();
        const QCommandLineOption scan(
            QStringLiteral("scan"),
            QCoreApplication::translate("main",
                                        "Print the local ports that have a listener, and exit."));
        parser.addOption(scan);
        parser.process(*cli);
        if (parser.isSet(scan)) {
            QTextStream out(stdout);
            return runScanCommand(out);
        }
    }

    QApplication app(argc, argv);
    // A tray application: closing the window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (!instance.claim()) {
        if (instance.handOver())
            return 0;
        std::fputs("quillby: another instance holds the lock but does not answer\n", stderr);
        return 1;
    }
    // Installed before the tunnels can start, so a logout never leaves one behind.
    SignalWatcher signalWatcher;

    QSettings settings;
    const auto notifier = createPlatformNotifier();
    const auto loginItem = createPlatformLoginItem();
    QuillbyApp quillby({&settings, notifier.get(), loginItem.get(), {}});
    QObject::connect(&instance, &SingleInstance::showRequested, &quillby, &QuillbyApp::showWindow);
    QObject::connect(&signalWatcher, &SignalWatcher::received, &quillby, &QuillbyApp::quit);
    QObject::connect(&quillby, &QuillbyApp::finished, &app, [] { QCoreApplication::exit(0); });
    quillby.start();
    return QApplication::exec();
}
