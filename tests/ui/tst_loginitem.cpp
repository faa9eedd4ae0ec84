// The autostart entry in a temporary config home: on and off, where it goes, how its status is
// read back, Exec quoting for awkward paths (checked by desktop-file-validate), failures.
#include "TestSupport.h"
#include "platform/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace TestSupport;

namespace {

QString readEntry() {
    QFile file(XdgAutostartLoginItem::entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString execLine() {
    for (const QString& line : readEntry().split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("Exec=")))
            return line.mid(5);
    }
    return {};
}

} // namespace

class TestLoginItem : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

    void validate() {
        const QString tool =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (tool.isEmpty())
            QSKIP("desktop-file-validate is not installed");
        QProcess validator;
        validator.start(tool, {XdgAutostartLoginItem::entryPath()});
        QVERIFY(validator.waitForFinished());
        const QByteArray output = validator.readAll();
        QVERIFY2(validator.exitCode() == 0, output.constData());
        QVERIFY2(!output.contains("error"), output.constData());
    }

private slots:
    void init() { m_home = std::make_unique<TempHome>(); }
    void cleanup() { m_home.reset(); }

    void onAndOff() {
        XdgAutostartLoginItem item({QStringLiteral("/usr/bin/quillby")});
        QCOMPARE(XdgAutostartLoginItem::entryPath(),
                 m_home->configHome() + QStringLiteral("/autostart/app.quillby.Quillby.desktop"));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.setEnabled(false)); // nothing to remove is fine
        QVERIFY(item.setEnabled(true));
        QVERIFY(item.isEnabled());
        QCOMPARE(execLine(), QStringLiteral("/usr/bin/quillby"));
        QVERIFY(readEntry().contains(QStringLiteral("\nX-GNOME-Autostart-enabled=true\n")));
        validate();
        // Written by renaming a finished file: no temporary is left beside it.
        QCOMPARE(QDir(m_home->configHome() + QStringLiteral("/autostart")).entryList(QDir::Files),
                 QStringList{QStringLiteral("app.quillby.Quillby.desktop")});
        QVERIFY(item.setEnabled(false));
        QVERIFY(!QFile::exists(XdgAutostartLoginItem::entryPath()));
        QVERIFY(!item.isEnabled());
    }

    void defaultsToDotConfigWithoutXdgConfigHome() {
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(XdgAutostartLoginItem::entryPath(),
                 m_home->path() + QStringLiteral("/.config/autostart/app.quillby.Quillby.desktop"));
        qputenv("XDG_CONFIG_HOME", "relative/ignored");
        QCOMPARE(XdgAutostartLoginItem::entryPath(),
                 m_home->path() + QStringLiteral("/.config/autostart/app.quillby.Quillby.desktop"));
    }

    void execIsQuoted_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("space") << QStringLiteral("/opt/My Apps/quillby")
                               << QStringLiteral("\"/opt/My Apps/quillby\"");
        QTest::newRow("dollar and quote") << QStringLiteral("/opt/a$b\"c/quillby")
                                          << QStringLiteral("\"/opt/a\\\\$b\\\\\"c/quillby\"");
        QTest::newRow("percent") << QStringLiteral("/opt/100%/quillby")
                                 << QStringLiteral("/opt/100%%/quillby");
        QTest::newRow("backslash")
            << QStringLiteral("/opt/a\\b/quillby") << QStringLiteral("\"/opt/a\\\\\\\\b/quillby\"");
    }
    void execIsQuoted() {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        XdgAutostartLoginItem item({program});
        QVERIFY(item.setEnabled(true));
        QCOMPARE(execLine(), exec);
        validate();
    }

    void hiddenOrDisabledEntriesReadAsOff_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("plain") << QString() << true;
        QTest::newRow("hidden") << QStringLiteral("Hidden=true") << false;
        QTest::newRow("not hidden") << QStringLiteral("Hidden=false") << true;
        QTest::newRow("gnome off") << QStringLiteral("X-GNOME-Autostart-enabled=false") << false;
    }
    void hiddenOrDisabledEntriesReadAsOff() {
        QFETCH(QString, line);
        QFETCH(bool, enabled);
        XdgAutostartLoginItem item({QStringLiteral("/usr/bin/quillby")});
        QVERIFY(item.setEnabled(true));
        QFile file(XdgAutostartLoginItem::entryPath());
        QVERIFY(file.open(QIODevice::Append));
        file.write(line.toUtf8() + "\n[Other Group]\nHidden=true\n");
        file.close();
        QCOMPARE(item.isEnabled(), enabled);
        // Turning it on again writes a fresh entry that is on.
        QVERIFY(item.setEnabled(true));
        QVERIFY(item.isEnabled());
    }

    void unwritableFolderFails() {
        QFile blocker(m_home->configHome() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        XdgAutostartLoginItem item({QStringLiteral("/usr/bin/quillby")});
        QVERIFY(!item.setEnabled(true));
        QVERIFY(!item.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
