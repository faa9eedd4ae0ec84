#include "ports/PortScanner.h"

#include <QProcess>
#include <QTest>

// The built binary's command line, run with no display.
class ScanCommandTest : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutADisplay() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QString out;
        for (const char* option : {"--help", "--version", "--scan"}) {
            QProcess quillby;
            quillby.setProcessEnvironment(env);
            quillby.start(QStringLiteral(QUILLBY_BINARY), {QString::fromLatin1(option)});
            QVERIFY(quillby.waitForFinished(10000));
            QCOMPARE(quillby.exitStatus(), QProcess::NormalExit);
            QCOMPARE(quillby.exitCode(), 0);
            out = QString::fromUtf8(quillby.readAllStandardOutput());
            QVERIFY2(!out.isEmpty() || qstrcmp(option, "--scan") == 0, option);
        }
        // What --scan finds open depends on the machine; the lines' form and order do not.
        QString expected;
        for (qint64 port : PortScanner::commonPorts) {
            const QString line = QStringLiteral("localhost:%1\n").arg(port);
            if ((QLatin1Char('\n') + out).contains(QLatin1Char('\n') + line))
                expected += line;
        }
        QCOMPARE(out, expected);
    }
};

QTEST_GUILESS_MAIN(ScanCommandTest)
#include "tst_scancommand.moc"
