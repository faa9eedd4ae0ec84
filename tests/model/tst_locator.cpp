// Finding the client: the fixed candidates first, then the search tool on our PATH.
#include "model/CloudflaredLocator.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString writeFile(const QString& path, const QByteArray& content, bool executable) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
    return path;
}

} // namespace

class TestLocator : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_oldPath;
    QString m_first, m_second, m_onPath, m_marker;

    // A search tool that leaves a mark, so a test can tell whether it ran.
    QString markingSearchTool() {
        return writeFile(m_dir.filePath(QStringLiteral("tools/which")),
                         "#!/bin/sh\n/usr/bin/touch '" + m_marker.toLocal8Bit() +
                             "'\nexec /usr/bin/which \"$@\"\n",
                         true);
    }

    CloudflaredLocator locator() const {
        return CloudflaredLocator({m_first, m_second},
                                  m_dir.filePath(QStringLiteral("tools/which")));
    }

private slots:
    void init() {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_first = m_dir.filePath(QStringLiteral("opt/cloudflared"));
        m_second = m_dir.filePath(QStringLiteral("local/cloudflared"));
        m_onPath = m_dir.filePath(QStringLiteral("path/cloudflared"));
        m_marker = m_dir.filePath(QStringLiteral("searched"));
        QDir().mkpath(m_dir.filePath(QStringLiteral("path")));
        markingSearchTool();
        m_oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("path"))));
    }

    void cleanup() { qputenv("PATH", m_oldPath); }

    void firstCandidateWinsWithoutSearching() {
        writeFile(m_first, "#!/bin/sh\n", true);
        writeFile(m_second, "#!/bin/sh\n", true);
        QCOMPARE(locator().find().value_or(QString()), m_first);
        QVERIFY(!QFile::exists(m_marker));
    }

    void secondCandidateWhenTheFirstIsNotExecutable() {
        writeFile(m_first, "#!/bin/sh\n", false);
        writeFile(m_second, "#!/bin/sh\n", true);
        QCOMPARE(locator().find().value_or(QString()), m_second);
        QVERIFY(!QFile::exists(m_marker));
    }

    void searchPathIsUsedWhenNoCandidateQualifies() {
        writeFile(m_onPath, "#!/bin/sh\n", true);
        QCOMPARE(locator().find().value_or(QString()), m_onPath);
        QVERIFY(QFile::exists(m_marker));
    }

    void nothingWhenTheClientIsNowhere() {
        QVERIFY(!locator().find());
        // A directory named like the client is not the client.
        QDir().mkpath(m_first);
        QVERIFY(!locator().find());
    }

    void searchOutputMustNameOneExecutableFile_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("not executable") << QByteArray("echo '%1/notexec'");
        QTest::newRow("two lines")
            << QByteArray("echo '%1/path/cloudflared'; echo '%1/path/cloudflared'");
        QTest::newRow("empty") << QByteArray("echo '   '");
        QTest::newRow("no such tool") << QByteArray("exec /nonexistent/which");
        QTest::newRow("invalid utf-8") << QByteArray("printf '\\377\\376'");
        QTest::newRow("found but failed") << QByteArray("echo '%1/path/cloudflared'; exit 1");
    }

    void searchOutputMustNameOneExecutableFile() {
        QFETCH(QByteArray, script);
        writeFile(m_onPath, "#!/bin/sh\n", true);
        writeFile(m_dir.filePath(QStringLiteral("notexec")), "x", false);
        writeFile(m_dir.filePath(QStringLiteral("tools/which")),
                  "#!/bin/sh\n" +
                      QString::fromLatin1(script)
                          .replace(QStringLiteral("%1"), m_dir.path())
                          .toLocal8Bit() +
                      "\n",
                  true);
        QVERIFY(!locator().find());
    }

    void trailingWhitespaceOfTheSearchIsTrimmed() {
        writeFile(m_onPath, "#!/bin/sh\n", true);
        writeFile(m_dir.filePath(QStringLiteral("tools/which")),
                  "#!/bin/sh\nprintf '  %s \\n\\n' '" + m_onPath.toLocal8Bit() + "'\n", true);
        QCOMPARE(locator().find().value_or(QString()), m_onPath);
    }

    void askedAfreshEveryTime() {
        writeFile(m_second, "#!/bin/sh\n", true);
        QVERIFY(locator().find());
        QFile::remove(m_second);
        QVERIFY(!locator().find());
        writeFile(m_second, "#!/bin/sh\n", true);
        QCOMPARE(locator().find().value_or(QString()), m_second);
    }
};

QTEST_GUILESS_MAIN(TestLocator)
#include "tst_locator.moc"
