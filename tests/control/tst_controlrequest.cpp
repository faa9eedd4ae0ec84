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
        QTest::addColumn<QString>("expected"); // the error's code, or the line encoded again
        auto row = [](const char* name, const QByteArray& line, const char* expected) {
            QTest::newRow(name) << line << QString::fromUtf8(expected);
        };
        row("list", R"({"v":1,"cmd":"list"})", R"({"cmd":"list","v":1})");
        row("show, the hand-over", R"({"v":1,"cmd":"show"})", R"({"cmd":"show","v":1})");
        row("bare show is gone", "show", "malformed");
        row("not an object", "[1,2,3]", "malformed");
        row("other version", R"({"v":2,"cmd":"list"})", "version");
        row("no command", R"({"v":1})", "unknown-command");
        row("unused keys ignored", R"({"v":1,"cmd":"list","port":"x","all":3})",
            R"({"cmd":"list","v":1})");
        row("start without tunnel", R"({"v":1,"cmd":"start"})", "invalid-argument");
        row("start, empty tunnel", R"({"v":1,"cmd":"start","tunnel":""})", "invalid-argument");
        row("stop all", R"({"v":1,"cmd":"stop","all":true})", R"({"all":true,"cmd":"stop","v":1})");
        row("stop all and a tunnel", R"({"v":1,"cmd":"stop","all":true,"tunnel":"x"})",
            "invalid-argument");
        row("stop, all not a bool", R"({"v":1,"cmd":"stop","all":"yes","tunnel":"x"})",
            "invalid-argument");
        row("stop all false, a tunnel", R"({"v":1,"cmd":"stop","all":false,"tunnel":"x"})",
            R"({"cmd":"stop","tunnel":"x","v":1})");
        row("add, whole port as a float", R"({"v":1,"cmd":"add","port":80.0,"start":true})",
            R"({"cmd":"add","port":80,"start":true,"v":1})");
        row("add, fractional port", R"({"v":1,"cmd":"add","port":80.5})", "invalid-argument");
        row("add, port out of range", R"({"v":1,"cmd":"add","port":65536})", "invalid-argument");
        row("add, name not text", R"({"v":1,"cmd":"add","port":80,"name":null})",
            "invalid-argument");
        row("add, start not a bool", R"({"v":1,"cmd":"add","port":80,"start":1})",
            "invalid-argument");
        row("share without port", R"({"v":1,"cmd":"share","wait":1})", "invalid-argument");
        row("wait rounded to ms", R"({"v":1,"cmd":"url","tunnel":"x","wait":0.0006})",
            R"({"cmd":"url","tunnel":"x","v":1,"wait":0.001})");
        row("wait of a day", R"({"v":1,"cmd":"share","port":9,"wait":86400})",
            R"({"cmd":"share","port":9,"v":1,"wait":86400})");
        row("wait over a day", R"({"v":1,"cmd":"url","tunnel":"x","wait":86400.001})",
            "invalid-argument");
        row("wait negative", R"({"v":1,"cmd":"url","tunnel":"x","wait":-1})", "invalid-argument");
        row("too large", QByteArray(ControlRequest::maxLineBytes + 1, ' '), "too-large");
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
        const char* notRunning = "quillby: Quillby is not running.";
        row("list --json", 3, notRunning);
        row("list x", 2, "quillby list: unexpected argument 'x'.\nTry 'quillby list --help'.");
        row("start", 2, "quillby start: which tunnel? Name it by its name, port or id.");
        row("stop --all", 3, notRunning);
        row("stop --all x", 2, "quillby stop: unexpected argument 'x'.");
        row("stop a b", 2, "quillby stop: unexpected argument 'b'.");
        row("url a --wait 0.5", 3, notRunning);
        row("url a --wait 86401", 2, "quillby url: --wait needs a number of seconds.");
        row("url a --wait x", 2, "quillby url: --wait needs a number of seconds.");
        row("url a --wait", 2, "quillby url: Missing value after '--wait'.");
        row("url a --all", 2, "quillby url: Unknown option 'all'.");
        row("add", 2, "quillby add: --port needs a port from 1 to 65535.");
        row("add --port 80 --name x --start", 3, notRunning);
        row("add --port 80 x", 2, "quillby add: unexpected argument 'x'.");
        row("share", 2, "quillby share: PORT must be a port from 1 to 65535.");
        row("share 0", 2, "quillby share: PORT must be a port from 1 to 65535.");
        row("share 1 2", 2, "quillby share: unexpected argument '2'.");
        row("share 1 --wait 2", 3, notRunning);
        row("share --help", 0,
            "Usage: quillby share [options] PORT\n"
            "Start the tunnel on a port (added when there is none), wait until it is active and "
            "print its URL.\n\n"
            "Options:\n"
            "  -h, --help        Print this help and exit.\n"
            "  --wait <SECONDS>  Wait up to SECONDS for the tunnel to become active (default\n"
            "                    60).\n\n"
            "Arguments:\n"
            "  share             The command.\n"
            "  PORT              The local port, 1 to 65535.\n");
    }

    void commandLine() {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, output);
        QTemporaryDir nobody;
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        QVERIFY(ControlCommand::isCommand(line.section(QLatin1Char(' '), 0, 0)));
        QCOMPARE(ControlCommand::run(QStringLiteral("quillby ").append(line).split(u' '), outStream,
                                     errStream, nobody.filePath("socket")),
                 status);
        outStream.flush();
        errStream.flush();
        QVERIFY2((out + err).startsWith(output), qPrintable(out + err));
    }
};

QTEST_GUILESS_MAIN(TestControlRequest)
#include "tst_controlrequest.moc"
