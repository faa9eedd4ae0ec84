#include "app/ScanCommand.h"
#include "app/Session.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
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
    return runSession();
}
