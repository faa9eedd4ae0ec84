// The missing client's install command from real os-release files of the common distributions
// and the processor the client is built for.
#include "platform/OsReleaseInstallCommand.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestInstallCommand : public QObject {
    Q_OBJECT

private slots:
    void commandFitsTheSystem() {
        const QString release = QStringLiteral(
            "curl -LO https://github.com/cloudflare/cloudflared/releases/latest/download/"
            "cloudflared-linux-%1 && sudo %2 cloudflared-linux-%1");
        const QString pacman = QStringLiteral("sudo pacman -S cloudflared");
        struct Case {
            const char *osRelease, *arch; // osRelease empty: no file at all
            QString expected;
        };
        const Case cases[] = {
            {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", "x86_64",
             release.arg("amd64.deb", "dpkg -i")},
            {"NAME=\"Ubuntu\"\nID=ubuntu\nID_LIKE=debian\n", "arm64",
             release.arg("arm64.deb", "dpkg -i")},
            {"ID=raspbian\nID_LIKE=debian\n", "arm", release.arg("armhf.deb", "dpkg -i")},
            {"# Mint\nID='linuxmint'\nID_LIKE='ubuntu debian'\n", "i386",
             release.arg("386.deb", "dpkg -i")},
            {"NAME=\"Fedora Linux\"\nID=fedora\n", "x86_64", release.arg("x86_64.rpm", "rpm -i")},
            {"ID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n", "arm64",
             release.arg("aarch64.rpm", "rpm -i")},
            {"ID=arch\n", "x86_64", pacman},
            {"ID=manjaro\nID_LIKE=arch\n", "arm64", pacman},
            {"ID=debian\n", "riscv64", clientDownloadPage()},
            {"ID=alpine\n", "x86_64", clientDownloadPage()},
            {"ID=other\nPRETTY_NAME=\"ID_LIKE=debian\"\n", "x86_64", clientDownloadPage()},
            {"", "x86_64", clientDownloadPage()},
        };
        for (const Case& c : cases) {
            QTemporaryDir dir;
            // The first path is missing, as /etc/os-release is on some systems: the second is read.
            QFile file(dir.filePath(QStringLiteral("os-release")));
            if (*c.osRelease && !(file.open(QIODevice::WriteOnly) && file.write(c.osRelease)))
                QFAIL("cannot write os-release");
            file.close();
            const OsReleaseInstallCommand install({dir.filePath("missing"), file.fileName()},
                                                  c.arch);
            QCOMPARE(install.command(), c.expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestInstallCommand)
#include "tst_installcommand.moc"
