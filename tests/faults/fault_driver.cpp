// The application's session exactly as the app runs it (single instance, signal watcher,
// settings in the user's config folder, platform notifier and login item), with what a fault
// test needs from outside: start every tunnel at launch, and say when it has.
//
//   fault_driver app [--start-all]   runs the app; prints "ready" once every tunnel has
//                                    started; exits as Quillby does
//   fault_driver saves               rewrites the saved list with alternately "old" and "new"
//                                    names, as fast as it can, until killed; prints "saving"
//
// The client is found as the app finds it (PATH).
#include "app/QuillbyApp.h"
#include "app/Session.h"
#include "model/TunnelStore.h"

#include <QApplication>
#include <QSettings>
#include <QTextStream>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

int runApp(int argc, char* argv[], bool startAll) {
    QApplication app(argc, argv);
    return runSession([startAll](QuillbyApp& quillby) {
        if (startAll)
            for (TunnelInstance* tunnel : quillby.store()->instances())
                tunnel->start();
        QTextStream(stdout) << "ready" << Qt::endl;
    });
}

[[noreturn]] void runSaves(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QSettings settings;
    TunnelStore store(&settings);
    QTextStream(stdout) << "saving" << Qt::endl;
    for (unsigned round = 0;; ++round) {
        // All renamed, then one save: the list on disk is always all old or all new.
        for (int n = 0; TunnelInstance * tunnel : store.instances()) {
            const QSignalBlocker quiet(tunnel);
            tunnel->setName((round % 2 ? u"new "_s : u"old "_s) + QString::number(n++));
        }
        store.saveTunnels();
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(u"Quillby"_s);
    QCoreApplication::setApplicationName(u"Quillby"_s);
    const QByteArray mode = argc >= 2 ? argv[1] : "";
    if (mode == "saves")
        runSaves(argc, argv);
    if (mode == "app")
        return runApp(argc, argv, argc >= 3 && qstrcmp(argv[2], "--start-all") == 0);
    std::fputs("usage: fault_driver app [--start-all] | fault_driver saves\n", stderr);
    return 2;
}
