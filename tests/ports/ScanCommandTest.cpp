#include "ports/PortScanner.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

// `quillby --scan` and the other command-line answers, run as the built binary with no display.
class ScanCommandTest : public QObject {
    Q_OBJECT

private slots:
    void scanPrintsOpenCommonPortsWithoutADisplay();
    void helpAndVersionNeedNoDisplay();

private:
    static QProcessEnvironment withoutDisplay();
};

QProcessEnvironment ScanCommandTest::withoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

void ScanCommandTest::scanPrintsOpenCommonPortsWithoutADisplay() {
    QProcess quillby;
    quillby.setProcessEnvironment(withoutDisplay());
    quillby.start(QStringLiteral(QUILLBY_BINARY), {QStringLiteral("--scan")});
    QVERIFY(quillby.waitForFinished(10000));
    QCOMPARE(quillby.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quillby.exitCode(), 0);

    // What is open depends on the machine; the form does not.
    const QString out = QString::fromUtf8(quillby.readAllStandardOutput());
    static const QRegularExpression line(QStringLiteral("^localhost:(\\d+)$"));
    qint64 previous = -1;
    for (const QString& text : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        const qint64 port = match.captured(1).toLongLong();
        QVERIFY(std::find(PortScanner::commonPorts.begin(), PortScanner::commonPorts.end(), port) !=
                PortScanner::commonPorts.end());
        QVERIFY(port > previous);
        previous = port;
    }
}

void ScanCommandTest::helpAndVersionNeedNoDisplay() {
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
        QProcess quillby;
        quillby.setProcessEnvironment(withoutDisplay());
        quillby.start(QStringLiteral(QUILLBY_BINARY), {option});
        QVERIFY(quillby.waitForFinished(10000));
        QCOMPARE(quillby.exitCode(), 0);
        QVERIFY2(!quillby.readAllStandardOutput().isEmpty(), qPrintable(option));
    }
}

QTEST_GUILESS_MAIN(ScanCommandTest)
#include "ScanCommandTest.moc"
