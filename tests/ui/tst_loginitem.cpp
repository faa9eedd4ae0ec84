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
        QTest::newRow("plain") << u"/usr/bin/quillby"_s << u"/usr/bin/quillby"_s;
        QTest::newRow("space") << u"/opt/My Apps/quillby"_s << u"\"/opt/My Apps/quillby\""_s;
        QTest::newRow("dollar, quote") << u"/opt/a$b\"c/q"_s << u"\"/opt/a\\\\$b\\\\\"c/q\""_s;
        QTest::newRow("percent") << u"/opt/100%/q"_s << u"/opt/100%%/q"_s;
        QTest::newRow("backslash") << u"/opt/a\\b/q"_s << u"\"/opt/a\\\\\\\\b/q\""_s;
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
