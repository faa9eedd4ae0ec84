#include "ports/PortScanner.h"

#include <QProcess>
#include <QTcpServer>
#include <QTest>

// The built binary's command line, run with no display.
class ScanCommandTest : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutADisplay() {
        // Listeners of our own on two common ports that are free here and need no root; not
        // on 3000 and 8000, which other tests' tunnels use.
        std::vector<std::unique_ptr<QTcpServer>> listeners;
        QList<qint64> ours;
        for (qint64 port : PortScanner::commonPorts) {
            auto server = std::make_unique<QTcpServer>();
            if (port >= 1024 && port != 3000 && port != 8000 && ours.size() < 2 &&
                server->listen(QHostAddress::LocalHost, quint16(port))) {
                ours << port;
                listeners.push_back(std::move(server));
            }
        }
        if (ours.isEmpty())
            QSKIP("every common port is taken on this machine");

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
            QVERIFY2(!out.isEmpty(), option);
        }
        // One line per open common port, ascending: ours, and whatever else listens here.
        QList<qint64> listed;
        for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QVERIFY2(line.startsWith(QLatin1String("localhost:")), qPrintable(line));
            listed << line.mid(10).toLongLong();
        }
        QVERIFY(out.endsWith(QLatin1Char('\n')));
        QVERIFY(std::is_sorted(listed.begin(), listed.end()));
        QCOMPARE(QSet<qint64>(listed.begin(), listed.end()).size(), listed.size());
        for (qint64 port : listed)
            QVERIFY(std::find(PortScanner::commonPorts.begin(), PortScanner::commonPorts.end(),
                              port) != PortScanner::commonPorts.end());
        for (qint64 port : ours)
            QVERIFY2(listed.contains(port), qPrintable(QString::number(port)));
    }
};

QTEST_GUILESS_MAIN(ScanCommandTest)
#include "tst_scancommand.moc"
