// Sharing safely, in process: the password's form and randomness, the request guard's answers
// on an injected clock, and the time limit's text forms.
#include "model/ShareDuration.h"
#include "model/SharePassword.h"
#include "proxy/BasicAuthGuard.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <cmath>

using namespace std::chrono;
using Guard = BasicAuthGuard;

namespace {
QByteArray basic(const QByteArray& pair) {
    return "Basic " + pair.toBase64();
}
struct Visit {
    QByteArray auth;
    int status;
    int priors = 0;
    QByteArray prior = {}; // null: a wrong password
    int spacing = 0, later = 0, crowd = 0;
    std::string visitor = "a";
    std::string password = "abcd-efgh"; // empty: nobody passes; "off": guard off
};
} // namespace

Q_DECLARE_METATYPE(Visit)

class TestSharing : public QObject {
    Q_OBJECT

private slots:
    void passwordLooksAndDraws() {
        const auto alphabet = SharePassword::alphabet.toString();
        for (char lookAlike : QByteArray("0Oo1lIi5Ss2Zz8BbGgqQuU"))
            QVERIFY(!alphabet.contains(QLatin1Char(lookAlike)));
        QVERIFY(SharePassword::groups * SharePassword::groupLength * std::log2(alphabet.size()) >=
                96);
        const QRegularExpression form(
            QStringLiteral("^[%1]{4}(-[%1]{4}){%2}$").arg(alphabet).arg(SharePassword::groups - 1));
        QSet<QString> drawn;
        QSet<QChar> used;
        for (int i = 0; i < 300; ++i) {
            const QString password = SharePassword::generate();
            QVERIFY(form.match(password).hasMatch());
            drawn << password;
            used.unite(QSet<QChar>(password.begin(), password.end()));
        }
        QCOMPARE(drawn.size(), 300);
        QCOMPARE(used.size(), alphabet.size() + 1); // every symbol, and the dash
    }

    // Visitor "a" sends `prior` `priors` times, `spacing` seconds apart; the clock moves on
    // `later` seconds; `crowd` other visitors fail once each; then `visitor` sends `auth`.
    void guardAnswers_data() {
        QTest::addColumn<Visit>("v");
        // A wrong password alone, the right one alone, and ten wrong ones before the right one
        // are tst_gateway's password().
        const QByteArray right = basic("quillby:abcd-efgh");
        auto row = [](const char* name, Visit v) { QTest::newRow(name) << v; };
        row("no credentials", {"", 401});
        row("scheme in lower case, two spaces", {"basic  " + right.mid(6), 200});
        row("user name wrong", {basic("quillbz:abcd-efgh"), 401});
        row("malformed base64", {"Basic a$b=", 401});
        row("no colon", {basic("quillbyabcd-efgh"), 401});
        row("another scheme", {"Bearer " + right.mid(6), 401});
        row("password with a colon", {basic("quillby:pa:ss"), 200, 0, {}, 0, 0, 0, "a", "pa:ss"});
        row("nobody passes without a password", {basic("quillby:"), 401, 0, {}, 0, 0, 0, "a", ""});
        row("guard off", {"Basic x", 200, 0, {}, 0, 0, 0, "a", "off"});
        row("9 failures", {right, 200, 9});
        row("11th of malformed ones: 429", {right, 429, 10, "Basic %%"});
        row("visitor b unaffected", {right, 200, 10, {}, 0, 0, 0, "b"});
        row("59 s later still 429", {right, 429, 10, {}, 0, 59});
        row("a minute later allowed again", {right, 200, 10, {}, 0, 60});
        row("10 failures over 63 s", {right, 200, 10, {}, 7});
        row("requests without credentials never count", {right, 200, 30, ""});
        row("4095 others fail: still locked", {right, 429, 10, {}, 0, 0, 4095});
        row("4096 others fail: oldest forgotten", {right, 200, 10, {}, 0, 0, 4096});
    }
    void guardAnswers() {
        QFETCH(Visit, v);
        steady_clock::time_point now{hours(1000)};
        Guard guard([&now] { return now; });
        guard.setRealm("Web");
        if (v.password != "off")
            guard.requireCredentials("quillby", v.password);
        const QByteArray prior = v.prior.isNull() ? basic("quillby:nope") : v.prior;
        for (int i = 0; i < v.priors; ++i, now += seconds(v.spacing))
            QVERIFY(guard.check(prior.toStdString(), "a").status() != 200);
        now += seconds(v.later);
        for (int i = 0; i < v.crowd; ++i)
            guard.check("Basic eDp5", "c" + std::to_string(i));
        const Guard::Decision decision = guard.check(v.auth.toStdString(), v.visitor);
        QCOMPARE(decision.status(), unsigned(v.status));
        QCOMPARE(decision.removeAuthorization, v.status == 200 && v.password != "off");
        std::map headers(decision.headers.begin(), decision.headers.end());
        if (v.status == 401)
            QCOMPARE(headers["WWW-Authenticate"],
                     std::string("Basic realm=\"Web\", charset=\"UTF-8\""));
        if (v.status == 429)
            QCOMPARE(headers["Retry-After"], std::to_string(60 - v.later));
        QCOMPARE(decision.body.empty(), v.status == 200);
        QVERIFY(v.status == 200 || headers["Content-Type"] == "text/html; charset=utf-8");
    }

    // Several Authorization fields are refused even with the right one first; all are removed
    // before the request goes on, other fields kept. One field through the gateway is
    // tst_gateway's password(), none tests/e2e/gateway.py's.
    void guardReadsAndStripsBeastFields() {
        Guard guard;
        guard.requireCredentials("quillby", "pw");
        const auto authorization = boost::beast::http::field::authorization;
        boost::beast::http::fields fields;
        fields.insert(authorization, basic("quillby:pw").toStdString());
        fields.insert(authorization, "Bearer t");
        fields.insert("Cf-Connecting-Ip", "203.0.113.7");
        QCOMPARE(guard.check(fields).status(), 401u);
        Guard::removeCredentials(fields);
        QCOMPARE(fields.count(authorization), std::size_t(0));
        QCOMPARE(std::string(fields["Cf-Connecting-Ip"]), std::string("203.0.113.7"));
        // The realm is quoted, line breaks dropped (no header injection), UTF-8 kept.
        QCOMPARE(Guard::quoted("say \"hi\"\\\r\nSet-Cookie: \xc3\xa9"),
                 std::string("\"say \\\"hi\\\"\\\\Set-Cookie: \xc3\xa9\""));
    }

    void durationParses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds"); // -1: rejected; 0: off
        const std::pair<const char*, qint64> rows[] = {
            {"90s", 90},        {"30m", 1800}, {"2h", 7200},     {"1h30m", 5400},
            {"1h30m15s", 5415}, {"0h5m", 300}, {"168h", 604800}, {"off", 0}};
        for (auto [text, seconds] : rows)
            QTest::newRow(text) << QString(text) << seconds;
        for (const char* rejected :
             {"169h", "99999999999999999999999s", "0s", "0", "-5m", "+5m", "5", "m", "", " 5m",
              "5m ", "5M", "1m1h", "1h1h", "1.5h", "5min", "OFF", "\xd9\xa5m" /* Arabic-Indic 5 */})
            QTest::newRow(rejected) << QString::fromUtf8(rejected) << qint64(-1);
    }
    void durationParses() {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        const auto parsed = ShareDuration::parse(text);
        QCOMPARE(parsed ? qint64(parsed->value_or(0s).count()) : -1, seconds);
    }

    void durationInWords_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("remaining"); // the row's "Stops in" text
        const std::tuple<qint64, const char*, const char*> rows[] = {
            {1, "1 second", "1 s"},      {60, "1 minute", "1 min"},
            {90, "90 seconds", "2 min"}, {125, "2 minutes 5 seconds", "3 min"},
            {3600, "1 hour", "1 h"},     {5400, "1 hour 30 minutes", "1 h 30 min"},
            {14400, "4 hours", "4 h"},   {3841, "1 hour 4 minutes 1 second", "1 h 5 min"}};
        for (auto [seconds, words, remaining] : rows)
            QTest::newRow(words) << seconds << QString(words) << QString(remaining);
    }
    void durationInWords() {
        QFETCH(qint64, seconds);
        QFETCH(QString, remaining);
        QTEST(ShareDuration::inWords(std::chrono::seconds(seconds)), "words");
        QCOMPARE(ShareDuration::remaining(std::chrono::seconds(seconds)), remaining);
        // A moment less still reads the same: rounded up, never "0".
        QCOMPARE(ShareDuration::remaining(std::chrono::seconds(seconds) - 1ms), remaining);
    }
};

QTEST_GUILESS_MAIN(TestSharing)
#include "tst_sharing.moc"
