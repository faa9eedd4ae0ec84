// The application's session exactly as the app runs it (single instance, signal watcher,
// settings in the user's config folder, platform notifier and login item), with two additions a
// fault test needs from outside: start every tunnel at launch, and report the children.
//
//   fault_driver app [--start-all]   runs the app; prints "child <pid>" per started child,
//                                    then "ready"; exits as Quillby does
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
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

void setIdentity() {
    QCoreApplication::setOrganizationName(u"Quillby"_s);
    QCoreApplication::setApplicationName(u"Quillby"_s);
}

int runApp(int argc, char* argv[], bool startAll) {
    QApplication app(argc, argv);
    return runSession([startAll](QuillbyApp& quillby) {
        QTextStream out(stdout);
        if (startAll) {
            for (TunnelInstance* tunnel : quillby.store()->instances()) {
                tunnel->start();
                if (tunnel->hasChild())
                    out << "child " << tunnel->childPid() << '\n';
            }
        }
        out << "ready" << Qt::endl;
    });
}

int runSaves(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QSettings settings;
    TunnelStore store(&settings);
    std::puts("saving");
    std::fflush(stdout);
    for (unsigned round = 0;; ++round) {
        const QString prefix = round % 2 ? u"new "_s : u"old "_s;
        int n = 0;
        // All renamed, then one save: the list on disk is always all old or all new.
        for (TunnelInstance* tunnel : store.instances()) {
            const QSignalBlocker quiet(tunnel);
            tunnel->setName(prefix + QString::number(n++));
        }
        store.saveTunnels();
    }
}

} // namespace

int main(int argc, char* argv[]) {
    setIdentity();
    if (argc >= 2 && std::strcmp(argv[1], "app") == 0)
        return runApp(argc, argv, argc >= 3 && std::strcmp(argv[2], "--start-all") == 0);
    if (argc >= 2 && std::strcmp(argv[1], "saves") == 0)
        return runSaves(argc, argv);
    std::fputs("usage: fault_driver app [--start-all] | fault_driver saves\n", stderr);
    return 2;
}
