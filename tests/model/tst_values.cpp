// Values and look-ups, in process: the saved record and list, the port text, which tunnels a
// text names, the public URL in the client's output, finding the client and its install command.
#include "ClientLines.h"
#include "TestSupport.h"
#include "model/CloudflaredLocator.h"
#include "model/PortText.h"
#include "model/TunnelConfig.h"
#include "model/TunnelLookup.h"
#include "model/TunnelUrlScanner.h"
#include "platform/OsReleaseInstallCommand.h"

#include <QDir>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTest>
#include <algorithm>

using namespace ClientLines;

// A place for cloudflared under root: "first", "second", "path1", "path2", or "home" for
// ~/.local/bin.
static QString pathOf(const QString& root, const QString& place) {
    return root + (place == u"home" ? QStringLiteral("/.local/bin") : u'/' + place) +
           QStringLiteral("/cloudflared");
}

class TestValues : public QObject {
    Q_OBJECT

private slots:
    void decodingRequiresEveryKeyWithItsType_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        const QByteArray id = R"("id":"5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11")";
        auto row = [&id](const char* name, const char* fields, bool decodes) {
            QTest::newRow(name) << QByteArray(fields).replace("ID", id) << decodes;
        };
        row("complete", R"({ID,"name":"a","port":1})", true);
        row("extra key, inspect as text", R"({ID,"name":"a","port":1,"inspect":"yes","x":1})",
            true);
        row("lower-case id", R"({"id":"5b4e2e1c-6a43-4f77-9d0b-3c2f7a9e8d11","name":"a","port":1})",
            true);
        row("no id", R"({"name":"a","port":1})", false);
        row("name as number", R"({ID,"name":1,"port":1})", false);
        row("port as text", R"({ID,"name":"a","port":"1"})", false);
        row("fractional port", R"({ID,"name":"a","port":1.5})", false);
        row("port beyond 64 bits", R"({ID,"name":"a","port":9223372036854775808})", false);
        row("braced id", R"({"id":"{5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11}","name":"a","port":1})",
            false);
    }
    void decodingRequiresEveryKeyWithItsType() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(bool(TunnelConfig::fromJson(QJsonDocument::fromJson(json).object())), decodes);
        QCOMPARE(bool(decodeTunnelConfigs("[" + json + "]")), decodes); // one bad spoils the list
    }

    void listRoundTripsCompactly() {
        QList<TunnelConfig> configs{
            TunnelConfig::create("Wéb ✓", std::numeric_limits<qint64>::min()),
            TunnelConfig::create("", std::numeric_limits<qint64>::max())};
        configs[1].inspect = true;
        configs[0].password = true;
        configs[1].rewriteHost = false;
        configs[1].hostname = "dev.example.com", configs[1].remote = QUuid::createUuid();
        const QByteArray saved = encodeTunnelConfigs(configs);
        QVERIFY(!saved.contains('\n') && !saved.contains(": "));
        const auto decoded = *decodeTunnelConfigs(saved);
        QCOMPARE(decoded, configs); // ids, names and ports, in order
        const auto rest = [](const TunnelConfig& c) {
            return std::tuple(c.inspect, c.rewriteHost, c.password, c.hostname, c.remote);
        };
        QVERIFY(std::ranges::equal(decoded, configs, {}, rest, rest));
        // "[]" and text that is no JSON: tst_tunnelstore's firstLaunch.
        QVERIFY(!decodeTunnelConfigs("{}"));
        // "é" precomposed and decomposed are the same name.
        TunnelConfig precomposed = configs[0], decomposed = configs[0];
        precomposed.name = QString::fromUtf8("caf\xc3\xa9");
        decomposed.name = QString::fromUtf8("cafe\xcc\x81");
        QVERIFY(precomposed == decomposed && qHash(precomposed) == qHash(decomposed));
    }

    void portText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("port"); // 0: rejected
        const std::pair<const char*, qint64> rows[] = {
            {"3000", 3000}, {"+8080", 8080}, {"08080", 8080}, {"1", 1}, {"65535", 65535}};
        for (auto [text, port] : rows)
            QTest::newRow(text) << QString(text) << port;
        for (const char* rejected : {"0", "-1", "65536", " 8080", "8080 ", "80a", "+", "+-80", "",
                                     "1234567890123456789012345", "\xd9\xa8\xd9\xa0" /* ٨٠ */,
                                     "\xef\xbc\x98\xef\xbc\x90" /* fullwidth 80 */})
            QTest::newRow(rejected) << QString(rejected) << qint64(0);
    }
    void portText() {
        QFETCH(QString, text);
        QTEST(parsePortText(text).value_or(0), "port");
    }

    // Which tunnels a name, a port or an id stands for, and in which precedence.
    void lookUp_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qsizetype>>("expected");
        using L = QList<qsizetype>;
        QTest::newRow("name") << "web" << L{0};
        QTest::newRow("name, spaces and tabs around") << " \tweb " << L{0};
        QTest::newRow("name is case-sensitive") << "Web" << L{};
        QTest::newRow("name shared") << "dup" << L{1, 2};
        QTest::newRow("port") << "3003" << L{2};
        QTest::newRow("port shared") << "3000" << L{0, 3};
        QTest::newRow("name of digits, no such port") << "8080" << L{4};
        QTest::newRow("whole id, braces, lower case")
            << "{32ba5dab-d870-4733-9d3a-ca496a3895c4}" << L{0};
        QTest::newRow("whole id wins over an earlier name")
            << "D00DFEED-0000-4000-8000-000000000004" << L{4};
        QTest::newRow("id prefix with a hyphen") << "9F3A0C11-1" << L{2};
        QTest::newRow("id prefix shared") << "9F3A0C11" << L{1, 2};
        QTest::newRow("7 digits are no id") << "32BA5DA" << L{};
        QTest::newRow("empty") << "" << L{};
    }
    void lookUp() {
        QFETCH(QString, text);
        // The ids are fixed so that prefixes can be written down; the fourth is named after the
        // fifth's whole id.
        const QList<TunnelConfig> tunnels{
            {QUuid(u"32BA5DAB-D870-4733-9D3A-CA496A3895C4"), "web", 3000},
            {QUuid(u"9F3A0C11-0000-4000-8000-000000000001"), "dup", 3002},
            {QUuid(u"9F3A0C11-1111-4000-8000-000000000002"), "dup", 3003},
            {QUuid(u"5E0F77A1-0000-4000-8000-000000000003"), "D00DFEED-0000-4000-8000-000000000004",
             3000},
            {QUuid(u"D00DFEED-0000-4000-8000-000000000004"), "8080", 4000}};
        QTEST(lookUpTunnels(tunnels, text), "expected");
    }

    // The public URL in the client's standard error, found once, at every split point.
    void urlScanner_data() {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const QByteArray& output, const QString& expected) {
            QTest::newRow(name) << output << expected;
        };
        const QByteArray u = url.toLatin1();
        row("in the box",
            at("INF Requesting new quick Tunnel on trycloudflare.com...") + urlBox + "INF more\n",
            url);
        row("API host before a URL", "Post https://api.trycloudflare.com " + u, url);
        row("API in capitals", "https://API.trycloudflare.com", {});
        row("api-7 is a name", "https://api-7.trycloudflare.com",
            "https://api-7.trycloudflare.com");
        for (const char* lookAlike :
             {"http://plain.trycloudflare.com", "https://a_b.trycloudflare.com",
              "https://x.trycloudflareXcom"})
            row(lookAlike, lookAlike, {});
        row("first of a line", "https://one.trycloudflare.com https://two.trycloudflare.com\n",
            "https://one.trycloudflare.com");
        row("invalid UTF-8 spoils its own line",
            "bad \xff\xfe " + u + "\ngood https://b.trycloudflare.com\n",
            "https://b.trycloudflare.com");
    }
    void urlScanner() {
        QFETCH(QByteArray, output);
        QFETCH(QString, expected);
        for (qsizetype cut = 0; cut <= output.size(); ++cut) {
            TunnelUrlScanner scanner;
            QStringList found;
            for (auto chunk :
                 {QByteArrayView(output).first(cut), QByteArrayView(output).sliced(cut)})
                if (auto u = scanner.feed(chunk))
                    found << *u;
            if (auto u = scanner.finish()) // the last line may lack its break
                found << *u;
            QCOMPARE(found, expected.isEmpty() ? QStringList() : QStringList{expected});
            QCOMPARE(scanner.pendingSize(), 0);
        }
    }

    void urlScannerBoundsItsPendingLine() {
        TunnelUrlScanner scanner;
        for (int i = 0; i < 1024; ++i) { // 4 MiB without a line break
            scanner.feed(QByteArray(4096, 'x'));
            QVERIFY(scanner.pendingSize() <= TunnelUrlScanner::maxPendingLine);
        }
    }

    // The fixed candidates first, then PATH; each entry puts cloudflared there as an
    // executable (+), a file without execute permission (-) or a directory (/).
    void locatorFindsTheFirstExecutable_data() {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QString>("expected"); // the place found, empty for nothing
        // Pairs of the layout and the place found; the last uses the default candidates, with
        // ~/.local/bin before PATH.
        const char* const rows[] = {
            "first+ second+ path1+", "first", "first- second+", "second", "path1+ path2+", "path1",
            "first/ path1/ path2+",  "path2", "second- path1/", "",       "home+ path1+",  "home"};
        for (qsizetype i = 0; i < std::ssize(rows); i += 2)
            QTest::newRow(rows[i]) << QString(rows[i]).split(u' ') << QString(rows[i + 1]);
    }
    void locatorFindsTheFirstExecutable() {
        QFETCH(QStringList, layout);
        QFETCH(QString, expected);
        TestSupport::TempHome home;
        const QString root = home.path();
        for (const QString& entry : layout) {
            const QString path = pathOf(root, entry.chopped(1));
            TestSupport::writeFile(entry.endsWith(u'/') ? path + "/inside" : path, "#!");
            if (entry.endsWith(u'+'))
                QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        }
        const bool byDefault = layout.first().startsWith(u"home");
        for (const QString& fixed : CloudflaredLocator::defaultCandidates())
            if (byDefault && !fixed.startsWith(root) && QFileInfo::exists(fixed))
                QSKIP("this machine has cloudflared in a fixed place");
        const auto restorePath = qScopeGuard([old = qgetenv("PATH")] { qputenv("PATH", old); });
        qputenv("PATH", QFile::encodeName(root + "/path1:" + root + "/path2"));
        const CloudflaredLocator locator =
            byDefault ? CloudflaredLocator()
                      : CloudflaredLocator({pathOf(root, "first"), pathOf(root, "second")});
        const std::optional<QString> found = locator.find();
        QCOMPARE(found.value_or(QString()),
                 expected.isEmpty() ? QString() : pathOf(root, expected));
        if (found) { // asked afresh every time
            QFile::remove(*found);
            QVERIFY(locator.find() != found);
        }
    }

    // From real os-release files of the common distributions and the client's processors.
    void installCommandFitsTheSystem() {
        const QString release = QStringLiteral(
            "curl -LO https://github.com/cloudflare/cloudflared/releases/latest/download/"
            "cloudflared-linux-%1 && sudo %2 cloudflared-linux-%1");
        const std::tuple<const char*, const char*, QString> cases[] = {
            {"# Mint\nID='linuxmint'\nID_LIKE='ubuntu debian'\n", "i386",
             release.arg("386.deb", "dpkg -i")},
            {"ID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n", "arm64",
             release.arg("aarch64.rpm", "rpm -i")},
            {"ID=manjaro\nID_LIKE=arch\n", "arm64", "sudo pacman -S cloudflared"},
            {"ID=other\nPRETTY_NAME=\"ID_LIKE=debian\"\n", "x86_64", clientDownloadPage()}};
        for (const auto& [osRelease, arch, expected] : cases) {
            QTemporaryDir dir;
            TestSupport::writeFile(dir.filePath("os-release"), osRelease);
            // The first path is missing, as /etc/os-release is on some systems: the second is read.
            const QStringList paths{dir.filePath("missing"), dir.filePath("os-release")};
            QCOMPARE(OsReleaseInstallCommand(paths, arch).command(), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
