// Finding the client: the fixed candidates first, then our PATH, searched in process.
#include "TestSupport.h"
#include "model/CloudflaredLocator.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace TestSupport;

class TestLocator : public QObject {
    Q_OBJECT

    // Places: the candidates "first" and "second", the PATH entries "path1" and "path2", and
    // "home" for ~/.local/bin; an entry puts cloudflared there as an executable (+), a file
    // without execute permission (-) or a directory (/).
    static QString pathOf(const QString& root, const QString& place) {
        return root + (place == u"home" ? QStringLiteral("/.local/bin") : u'/' + place) +
               QStringLiteral("/cloudflared");
    }
    static QString put(const QString& root, const QString& entry) {
        const QString path = pathOf(root, entry.chopped(1));
        QDir().mkpath(entry.endsWith(u'/') ? path : QFileInfo(path).path());
        QFile file(path);
        if (!entry.endsWith(u'/') &&
            !(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n")))
            qFatal("cannot write %s", qPrintable(path));
        if (entry.endsWith(u'+'))
            file.setPermissions(file.permissions() | QFile::ExeOwner);
        return path;
    }

private slots:
    void findsTheFirstExecutable_data() {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QString>("expected"); // the place found, empty for nothing
        QTest::newRow("first candidate wins")
            << QStringList{"first+", "second+", "path1+"} << "first";
        QTest::newRow("non-executable candidate skipped")
            << QStringList{"first-", "second+"} << "second";
        QTest::newRow("PATH in its order") << QStringList{"path1+", "path2+"} << "path1";
        QTest::newRow("a directory is not the client")
            << QStringList{"first/", "path1/", "path2+"} << "path2";
        QTest::newRow("non-executable on PATH skipped")
            << QStringList{"path1-", "path2+"} << "path2";
        QTest::newRow("nowhere") << QStringList{"second-", "path1/"} << "";
        // The default candidates: ~/.local/bin comes before PATH.
        QTest::newRow("default: home before PATH") << QStringList{"home+", "path1+"} << "home";
    }
    void findsTheFirstExecutable() {
        QFETCH(QStringList, layout);
        QFETCH(QString, expected);
        TempHome home;
        const QString root = home.path();
        for (const QString& entry : layout)
            put(root, entry);
        const bool byDefault = layout.first().startsWith(QStringLiteral("home"));
        for (const QString& fixed : CloudflaredLocator::defaultCandidates()) {
            if (byDefault && !fixed.startsWith(root) && QFileInfo::exists(fixed))
                QSKIP("this machine has cloudflared in a fixed place");
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(QFileInfo(pathOf(root, "path1")).path() + u':' +
                                          QFileInfo(pathOf(root, "path2")).path()));
        const std::optional<QString> found =
            (byDefault ? CloudflaredLocator()
                       : CloudflaredLocator({pathOf(root, "first"), pathOf(root, "second")}))
                .find();
        qputenv("PATH", oldPath);
        QCOMPARE(found.value_or(QString()),
                 expected.isEmpty() ? QString() : pathOf(root, expected));
    }

    void askedAfreshEveryTime() {
        TempHome home;
        const QString path = put(home.path(), QStringLiteral("first+"));
        const CloudflaredLocator locator({path});
        QVERIFY(locator.find());
        QFile::remove(path);
        QVERIFY(!locator.find());
    }
};

QTEST_GUILESS_MAIN(TestLocator)
#include "tst_locator.moc"
