// The autostart entry in a temporary config home: on and off, where it goes, Exec quoting for
// awkward paths (checked by desktop-file-validate), its status read back from the file. A
// folder that cannot be written is in tst_statusmenu.
#include "TestSupport.h"
#include "platform/XdgAutostartLoginItem.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace TestSupport;

class TestLoginItem : public QObject {
    Q_OBJECT

private slots:
    void onAndOff_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        const auto row = [](const char* tag, const char* program, const char* exec) {
            QTest::newRow(tag) << QString::fromUtf8(program) << QString::fromUtf8(exec);
        };
        row("plain", "/usr/bin/quillby", "/usr/bin/quillby");
        row("space", "/opt/My Apps/quillby", "\"/opt/My Apps/quillby\"");
        row("dollar, quote", "/opt/a$b\"c/q", "\"/opt/a\\\\$b\\\\\"c/q\"");
        row("percent", "/opt/100%/q", "/opt/100%%/q");
        row("backslash", "/opt/a\\b/q", "\"/opt/a\\\\\\\\b/q\"");
    }
    void onAndOff() {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        TempHome home;
        const QString folder = home.configHome() + u"/autostart"_s;
        QCOMPARE(XdgAutostartLoginItem::entryPath(), folder + "/app.quillby.Quillby.desktop");
        XdgAutostartLoginItem item({program});
        // Nothing to remove is fine.
        QVERIFY(!item.isEnabled() && item.setEnabled(false) && item.setEnabled(true));
        QVERIFY(item.isEnabled());
        QFile file(XdgAutostartLoginItem::entryPath());
        QVERIFY(file.open(QIODevice::ReadWrite)); // read to its end, then appended to
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains("\nExec=" + exec + "\n"), qPrintable(text));
        // Written by renaming a finished file: no temporary is left beside it.
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);

        QProcess validator;
        validator.setProcessChannelMode(QProcess::MergedChannels);
        validator.start("desktop-file-validate", {file.fileName()});
        QVERIFY2(validator.waitForFinished(), "desktop-file-validate is not installed");
        const QByteArray output = validator.readAll();
        QVERIFY2(validator.exitCode() == 0 && !output.contains("error"), output.constData());
        // Read back from the file: a hidden entry is off.
        file.write("Hidden=true\n");
        file.close();
        QVERIFY(!item.isEnabled() && item.setEnabled(false) && !file.exists());
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
