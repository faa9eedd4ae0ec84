// The request line as the server reads it and the command line as `quillby` reads it, both
// from the one command table, in-process. The command line runs against a socket nobody
// listens on, so a line it accepts ends in "not running" (3) and one it refuses in 2.
#include "cli/ControlCommand.h"
#include "control/ControlRequest.h"

#include <QTemporaryDir>
#include <QTest>

class TestControlRequest : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QByteArray>("line");
        // The error's code, or the line encoded again: by default the line itself, whose keys
        // are in order.
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const QByteArray& line, const char* expected = nullptr) {
            QTest::newRow(name) << line
                                << QString::fromUtf8(expected ? expected : line.constData());
        };
        const char* invalid = "invalid-argument";
        row("not an object", "[1,2,3]", "malformed");
        row("other version", R"({"v":2,"cmd":"list"})", "version");
        row("no command", R"({"v":1})", "unknown-command");
        row("unused and unknown keys ignored",
            R"({"v":1,"cmd":"list","port":"x","all":3,"colour":"red"})", R"({"cmd":"list","v":1})");
        row("start without tunnel", R"({"v":1,"cmd":"start"})", invalid);
        row("stop all", R"({"all":true,"cmd":"stop","v":1})");
        row("stop all and a tunnel", R"({"v":1,"cmd":"stop","all":true,"tunnel":"x"})", invalid);
        row("add, whole port as a float", R"({"v":1,"cmd":"add","port":80.0,"start":true})",
            R"({"cmd":"add","port":80,"start":true,"v":1})");
        row("add, fractional port", R"({"v":1,"cmd":"add","port":80.5})", invalid);
        row("add, name not text", R"({"v":1,"cmd":"add","port":80,"name":null})", invalid);
        row("wait rounded to ms", R"({"v":1,"cmd":"url","tunnel":"x","wait":0.0006})",
            R"({"cmd":"url","tunnel":"x","v":1,"wait":0.001})");
        row("wait over a day", R"({"v":1,"cmd":"url","tunnel":"x","wait":86400.001})", invalid);
        row("too large", QByteArray(ControlRequest::maxLineBytes + 1, ' '), "too-large");
        row("set, every field",
            R"({"cmd":"set","for":5400,"inspect":true,"name":"n","password":true,"port":80,)"
            R"("rewriteHost":false,"tunnel":"x","v":1})");
        row("set, no limit", R"({"cmd":"set","for":null,"tunnel":"x","v":1})");
        row("set, limit over a week", R"({"v":1,"cmd":"set","tunnel":"x","for":604801})", invalid);
        row("requests, har, limit",
            R"({"cmd":"requests","har":true,"limit":5,"tunnel":"x","v":1})");
    }

    void parse() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        const ControlRequest::Parsed parsed = ControlRequest::parse(line);
        if (const auto* error = std::get_if<ControlError>(&parsed)) {
            QCOMPARE(ControlError::nameOf(error->code), expected);
            QVERIFY(!error->message.isEmpty());
        } else {
            QCOMPARE(QString::fromUtf8(std::get<ControlRequest>(parsed).encode()),
                     expected + QLatin1Char('\n'));
        }
    }

    void commandLine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // standard output and error, as they begin
        auto row = [](const char* line, int status, const char* output) {
            QTest::newRow(line) << QString::fromUtf8(line) << status << QString::fromUtf8(output);
        };
        // Accepted: they end in "not running".
        for (const char* line :
             {"list --json", "stop --all", "url a --wait 0.5", "add --port 80 --name x --start",
              "share 1 --wait 2", "set a --for off", "start a --for 90s", "replay a 12",
              "share 80 --password --for 2h", "url a --follow --credentials",
              "set a --name b --port 80 --rewrite-host on --inspect off --password on --for 1h30m"})
            row(line, 3, "quillby: Quillby is not running.");
        row("list x", 2, "quillby list: unexpected argument 'x'.\nTry 'quillby list --help'.");
        row("start", 2, "quillby start: which tunnel? Name it by its name, port or id.");
        row("stop --all x", 2, "quillby stop: unexpected argument 'x'.");
        row("url a --wait 86401", 2, "quillby url: --wait needs a number of seconds.");
        row("url a --all", 2, "quillby url: Unknown option 'all'.");
        row("add", 2, "quillby add: --port needs a port from 1 to 65535.");
        row("share", 2, "quillby share: PORT must be a port from 1 to 65535.");
        row("share --help", 0,
            "Usage: quillby share [options] PORT\nStart the tunnel on a port (added when there is "
            "none), wait until it is active and print its URL.\n\nOptions:\n  -h, --help ");
        row("set a --inspect yes", 2, "quillby set: --inspect takes on or off.");
        row("set a --for 0s", 2, "quillby set: --for needs a duration");
        row("requests a --json --har", 2, "quillby requests: --json and --har do not go together.");
        row("requests a --limit 0", 2, "quillby requests: --limit needs a whole number from 1.");
        row("replay a", 2, "quillby replay: which request?");
    }

    void commandLine() {
        QFETCH(QString, line);
        QFETCH(QString, output);
        QTemporaryDir nobody;
        QString out; // and standard error
        QTextStream stream(&out);
        QVERIFY(ControlCommand::isCommand(line.section(QLatin1Char(' '), 0, 0)));
        QTEST(ControlCommand::run(QStringLiteral("quillby ").append(line).split(u' '), stream,
                                  stream, nobody.filePath("socket")),
              "status");
        stream.flush();
        QCOMPARE(out.left(output.size()), output);
    }
};

QTEST_GUILESS_MAIN(TestControlRequest)
#include "tst_controlrequest.moc"
