#include "app/Session.h"
#include "app/Translations.h"
#include "cli/ControlCommand.h"
#include "cli/ScanCommand.h"
#include "model/ClientVersion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Options that end the program before any window: they must work without a display.
bool wantsNoDisplay(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option :
             {"-h", "--help", "-?", "--help-all", "-v", "--version", "--scan"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Public HTTPS URLs for local ports, from the tray.\n\n"
                                            "Commands for the running Quillby (each has --help):") +
        QLatin1Char('\n') + ControlCommand::commandList() + QLatin1Char('\n') +
        QCoreApplication::translate("main", "TUNNEL is a name, a port or an id."));
    parser.addHelpOption();
}

// Ours, not the parser's: it also names the client that tunnels would run.
QCommandLineOption versionOption() {
    return QCommandLineOption(
        {QStringLiteral("v"), QStringLiteral("version")},
        QCoreApplication::translate("QCommandLineParser", "Displays version information."));
}

int printVersion(QTextStream& out) {
    out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
        << '\n';
    const std::optional<QString> client = findCloudflared();
    if (!client) {
        out << QCoreApplication::translate("main", "cloudflared: not found") << '\n';
        return 0;
    }
    const QString version = ClientVersion::readNow(*client);
    out << QCoreApplication::translate("main", "cloudflared: %1 (version %2)")
               .arg(*client,
                    version.isEmpty() ? QCoreApplication::translate("main", "unknown") : version)
        << '\n';
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("Quillby"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillby"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLBY_VERSION));

    if (argc >= 2 && ControlCommand::isCommand(QString::fromLocal8Bit(argv[1]))) {
        const QCoreApplication cli(argc, argv);
        const Translations translations;
        QTextStream out(stdout);
        QTextStream err(stderr);
        return ControlCommand::run(QCoreApplication::arguments(), out, err);
    }

    // A word that is no command would otherwise be taken for the GUI's and need a display.
    if (argc >= 2 && argv[1][0] != '-') {
        std::fprintf(stderr, "quillby: unknown command '%s'; try 'quillby --help'\n", argv[1]);
        return ControlCommand::Usage;
    }

    const QCommandLineOption scan(
        QStringLiteral("scan"),
        QCoreApplication::translate("main",
                                    "Print the local ports that have a listener, and exit."));
    if (wantsNoDisplay(argc, argv)) {
        const QCoreApplication cli(argc, argv);
        const Translations translations;
        QCommandLineParser parser;
        describe(parser);
        const QCommandLineOption version = versionOption();
        parser.addOption(version);
        parser.addOption(scan);
        parser.process(cli);
        QTextStream out(stdout);
        if (parser.isSet(version))
            return printVersion(out);
        return runScanCommand(out);
    }

    // QApplication takes its own options (-platform, -session, -reverse, -style...) out of
    // the command line first; only what is left is ours.
    QApplication app(argc, argv);
    const Translations translations;
    QCommandLineParser parser;
    describe(parser);
    parser.addOption(versionOption());
    parser.addOption(scan);
    parser.process(app);
    return runSession();
}
