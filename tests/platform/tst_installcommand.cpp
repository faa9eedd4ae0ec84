// The missing client's install command from real os-release files of the common distributions
// and the processor the client is built for.
#include "platform/OsReleaseInstallCommand.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString fromRelease(const QString& file, const QString& installer) {
    return QStringLiteral("curl -LO https://github.com/cloudflare/cloudflared/releases/latest/"
                          "download/%1 && sudo %2 %1")
        .arg(file, installer);
}
QString deb(const char* arch) {
    return fromRelease(QStringLiteral("cloudflared-linux-%1.deb").arg(QLatin1String(arch)),
                       QStringLiteral("dpkg -i"));
}
QString rpm(const char* arch) {
    return fromRelease(QStringLiteral("cloudflared-linux-%1.rpm").arg(QLatin1String(arch)),
                       QStringLiteral("rpm -i"));
}

} // namespace

class TestInstallCommand : public QObject {
    Q_OBJECT

private slots:
    void commandFitsTheSystem_data() {
        QTest::addColumn<QByteArray>("osRelease"); // empty: no os-release file at all
        QTest::addColumn<QString>("arch");
        QTest::addColumn<QString>("expected");
        const QString pacman = QStringLiteral("sudo pacman -S cloudflared");
        const QString page = clientDownloadPage();
        QTest::newRow("Debian 12") << QByteArray("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                                 "VERSION_ID=\"12\"\nID=debian\n")
                                   << "x86_64" << deb("amd64");
        QTest::newRow("Ubuntu on arm64")
            << QByteArray("NAME=\"Ubuntu\"\nID=ubuntu\nID_LIKE=debian\n") << "arm64"
            << deb("arm64");
        QTest::newRow("Raspberry Pi OS, 32-bit")
            << QByteArray("ID=raspbian\nID_LIKE=debian\n") << "arm" << deb("armhf");
        QTest::newRow("Mint, single quotes, comments")
            << QByteArray("# Linux Mint\nID='linuxmint'\nID_LIKE='ubuntu debian'\n") << "i386"
            << deb("386");
        QTest::newRow("Fedora") << QByteArray("NAME=\"Fedora Linux\"\nID=fedora\n") << "x86_64"
                                << rpm("x86_64");
        QTest::newRow("Rocky on arm64")
            << QByteArray("ID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n") << "arm64"
            << rpm("aarch64");
        QTest::newRow("Arch") << QByteArray("ID=arch\n") << "x86_64" << pacman;
        QTest::newRow("Manjaro on arm64")
            << QByteArray("ID=manjaro\nID_LIKE=arch\n") << "arm64" << pacman;
        QTest::newRow("Debian on riscv64") << QByteArray("ID=debian\n") << "riscv64" << page;
        QTest::newRow("Alpine") << QByteArray("ID=alpine\n") << "x86_64" << page;
        QTest::newRow("an ID_LIKE in a value is not a relative")
            << QByteArray("ID=other\nPRETTY_NAME=\"ID_LIKE=debian\"\n") << "x86_64" << page;
        QTest::newRow("no os-release") << QByteArray() << "x86_64" << page;
    }
    void commandFitsTheSystem() {
        QFETCH(QByteArray, osRelease);
        QFETCH(QString, arch);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        // The first path is missing, as /etc/os-release is on some systems: the second is read.
        const QString path = dir.filePath(QStringLiteral("os-release"));
        QFile file(path);
        if (!osRelease.isEmpty() && !(file.open(QIODevice::WriteOnly) && file.write(osRelease)))
            QFAIL("cannot write os-release");
        file.close();
        const OsReleaseInstallCommand install({dir.filePath(QStringLiteral("missing")), path},
                                              arch);
        QCOMPARE(install.command(), expected);
    }
};

QTEST_GUILESS_MAIN(TestInstallCommand)
#include "tst_installcommand.moc"
