// One tunnel row on a real instance running the stand-in client: its three states, the name
// and port commits with their silent reverts, the copy button and delete.
#include "TestSupport.h"
#include "model/TunnelInstance.h"
#include "ui/BusySpinner.h"
#include "ui/ElidedLabel.h"
#include "ui/StatusDot.h"
#include "ui/Theme.h"
#include "ui/TunnelRowView.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

using namespace TestSupport;

namespace {

constexpr int slow = 15000;
const QString fakeUrl = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");

} // namespace

class TestTunnelRow : public QObject {
    Q_OBJECT

    std::unique_ptr<TunnelInstance> m_instance;
    std::unique_ptr<TunnelRowView> m_row;
    int m_deletes = 0;
    int m_configChanges = 0;

    template <typename T> T* child(const char* name) {
        T* found = m_row->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
    QLineEdit* nameField() { return child<QLineEdit>("nameField"); }
    QLineEdit* portField() { return child<QLineEdit>("portField"); }
    StatusDot* dot() { return child<StatusDot>("statusDot"); }
    QToolButton* startStop() { return child<QToolButton>("startStopButton"); }
    QWidget* connectingLine() { return child<QWidget>("connectingLine"); }
    QWidget* urlLine() { return child<QWidget>("urlLine"); }

    void type(QLineEdit* field, const QString& text, bool commit = true) {
        // Set rather than typed: a typed tab would move the focus.
        field->setFocus();
        field->setText(text);
        if (commit)
            QTest::keyClick(field, Qt::Key_Return);
    }

    void startAndWaitForUrl() {
        QTest::mouseClick(startStop(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_instance->tunnelURLText(), fakeUrl, slow);
    }

    QColor named(Theme::Named color) { return Theme::named(color, m_row->palette()); }

private slots:
    void init() {
        qunsetenv("FAKE_CF_MODE");
        m_deletes = m_configChanges = 0;
        m_instance = std::make_unique<TunnelInstance>(
            TunnelConfig::create(QStringLiteral("Web"), 8000),
            TunnelInstance::Services{fakeClientLocator(), nullptr});
        m_row = std::make_unique<TunnelRowView>(
            m_instance.get(), [this] { ++m_deletes; }, [this] { ++m_configChanges; });
        m_row->resize(300, m_row->sizeHint().height());
        m_row->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_row.get()));
    }
    void cleanup() {
        m_row.reset();
        if (m_instance && m_instance->hasChild()) {
            const qint64 pid = m_instance->childPid();
            m_instance->stop();
            QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), slow);
        }
        m_instance.reset();
    }

    void showsTheConfigurationWhenShown() {
        QCOMPARE(nameField()->text(), QStringLiteral("Web"));
        QCOMPARE(portField()->text(), QStringLiteral("8000"));
    }

    void stoppedConnectingAndRunningStates() {
        // Stopped: gray, no info line, "Start" in green, nothing animating.
        QCOMPARE(dot()->color(), named(Theme::Named::Gray));
        QVERIFY(!dot()->isAnimating());
        QVERIFY(connectingLine()->isHidden());
        QVERIFY(urlLine()->isHidden());
        QCOMPARE(startStop()->text(), QStringLiteral("Start"));
        QCOMPARE(startStop()->palette().color(QPalette::ButtonText), named(Theme::Named::Green));

        // Connecting: a child that never prints its URL.
        qputenv("FAKE_CF_MODE", "no-url");
        QTest::mouseClick(startStop(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_instance->isConnecting(), slow);
        QCOMPARE(dot()->color(), named(Theme::Named::Orange));
        QVERIFY(dot()->isPulsing());
        QVERIFY(dot()->isAnimating());
        QVERIFY(connectingLine()->isVisible());
        QVERIFY(m_row->findChild<BusySpinner*>(QStringLiteral("connectingSpinner"))->isAnimating());
        QVERIFY(urlLine()->isHidden());
        QCOMPARE(startStop()->text(), QStringLiteral("Stop"));
        QCOMPARE(startStop()->palette().color(QPalette::ButtonText), named(Theme::Named::Red));

        // The dot pulses between full and 0.7 opacity.
        qreal low = 1.0, high = 0.0;
        for (int i = 0; i < 40; ++i) {
            QTest::qWait(50);
            low = qMin(low, dot()->opacity());
            high = qMax(high, dot()->opacity());
        }
        QVERIFY2(low < 0.8 && low >= StatusDot::pulseLowOpacity - 0.001,
                 qPrintable(QString::number(low)));
        QVERIFY2(high > 0.9 && high <= 1.0, qPrintable(QString::number(high)));

        // Stop: back to gray, and the idle row runs no animation.
        QTest::mouseClick(startStop(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_instance->isRunning(), slow);
        QCOMPARE(dot()->color(), named(Theme::Named::Gray));
        QVERIFY(!dot()->isAnimating());
        QCOMPARE(dot()->opacity(), 1.0);
        QVERIFY(connectingLine()->isHidden());
        QCOMPARE(startStop()->text(), QStringLiteral("Start"));

        // Running with a URL: green at full opacity, the URL and its copy button.
        qunsetenv("FAKE_CF_MODE");
        startAndWaitForUrl();
        QCOMPARE(dot()->color(), named(Theme::Named::Green));
        QVERIFY(!dot()->isAnimating());
        QCOMPARE(dot()->opacity(), 1.0);
        QVERIFY(connectingLine()->isHidden());
        QVERIFY(urlLine()->isVisible());
        QCOMPARE(child<ElidedLabel>("urlLabel")->fullText(), fakeUrl);
        QCOMPARE(child<QToolButton>("copyButton")->toolTip(), QStringLiteral("Copy URL"));
        QCOMPARE(startStop()->text(), QStringLiteral("Stop"));
    }

    void longUrlIsElidedInTheMiddle() {
        startAndWaitForUrl();
        m_row->resize(180, m_row->height());
        auto* label = child<ElidedLabel>("urlLabel");
        QTRY_VERIFY(label->text() != fakeUrl);
        QVERIFY(label->text().contains(QChar(0x2026)));
        QVERIFY(label->text().startsWith(QStringLiteral("http")));
        QVERIFY(label->text().endsWith(QStringLiteral("com")));
        QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
    }

    void copyButtonPutsExactlyTheUrlOnTheClipboard() {
        QApplication::clipboard()->setText(QStringLiteral("something else"));
        startAndWaitForUrl();
        QTest::mouseClick(child<QToolButton>("copyButton"), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), fakeUrl);
    }

    void nameCommit_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("saves");
        QTest::newRow("trimmed") << QStringLiteral("  Api  ") << QStringLiteral("Api") << 1;
        QTest::newRow("tabs trimmed") << QStringLiteral("\tApi\t") << QStringLiteral("Api") << 1;
        QTest::newRow("unchanged still saves")
            << QStringLiteral("Web") << QStringLiteral("Web") << 1;
        QTest::newRow("inner spaces kept")
            << QStringLiteral("My  App") << QStringLiteral("My  App") << 1;
        QTest::newRow("only spaces") << QStringLiteral("    ") << QStringLiteral("Web") << 0;
        QTest::newRow("spaces and tabs") << QStringLiteral(" \t \t") << QStringLiteral("Web") << 0;
        QTest::newRow("empty") << QString() << QStringLiteral("Web") << 0;
    }
    void nameCommit() {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(int, saves);
        type(nameField(), typed);
        QCOMPARE(m_instance->config().name, stored);
        QCOMPARE(m_configChanges, saves);
        // An accepted edit stays as typed; a rejected one shows the stored name again.
        QCOMPARE(nameField()->text(), saves ? typed : stored);
    }

    void nameIsNotCommittedWithoutReturn() {
        type(nameField(), QStringLiteral("Draft"), false);
        QTest::keyClick(portField(), Qt::Key_Tab);
        QCOMPARE(m_instance->config().name, QStringLiteral("Web"));
        QCOMPARE(m_configChanges, 0);
        // Coming into view again drops the draft.
        m_row->hide();
        m_row->show();
        QCOMPARE(nameField()->text(), QStringLiteral("Web"));
    }

    void portCommit_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("stored");
        QTest::newRow("plain") << QStringLiteral("3000") << qint64(3000);
        QTest::newRow("plus sign") << QStringLiteral("+8080") << qint64(8080);
        QTest::newRow("leading zero") << QStringLiteral("08080") << qint64(8080);
        QTest::newRow("highest") << QStringLiteral("65535") << qint64(65535);
        QTest::newRow("lowest") << QStringLiteral("1") << qint64(1);
        QTest::newRow("same port") << QStringLiteral("8000") << qint64(8000);
        QTest::newRow("zero") << QStringLiteral("0") << qint64(-1);
        QTest::newRow("negative") << QStringLiteral("-1") << qint64(-1);
        QTest::newRow("too high") << QStringLiteral("65536") << qint64(-1);
        QTest::newRow("space before") << QStringLiteral(" 8080") << qint64(-1);
        QTest::newRow("space after") << QStringLiteral("8080 ") << qint64(-1);
        QTest::newRow("letter") << QStringLiteral("80a") << qint64(-1);
        QTest::newRow("lone plus") << QStringLiteral("+") << qint64(-1);
        QTest::newRow("empty") << QString() << qint64(-1);
        QTest::newRow("25 digits") << QStringLiteral("1234567890123456789012345") << qint64(-1);
    }
    void portCommit() {
        QFETCH(QString, typed);
        QFETCH(qint64, stored);
        type(portField(), typed);
        const bool accepted = stored > 0;
        QCOMPARE(m_instance->config().port, accepted ? stored : qint64(8000));
        QCOMPARE(m_configChanges, accepted ? 1 : 0);
        QCOMPARE(portField()->text(), accepted ? typed : QStringLiteral("8000"));
        QVERIFY(!m_instance->isRunning());
    }

    void portCommitRestartsARunningTunnelOnlyWhenChanged() {
        startAndWaitForUrl();
        const qint64 pid = m_instance->childPid();
        type(portField(), QStringLiteral("8000"));
        QCOMPARE(m_configChanges, 1);
        QTest::qWait(TunnelInstance::restartDelayMs + 300);
        QCOMPARE(m_instance->childPid(), pid);

        type(portField(), QStringLiteral("3000"));
        QCOMPARE(m_configChanges, 2);
        QCOMPARE(m_instance->config().port, qint64(3000));
        QTRY_VERIFY_WITH_TIMEOUT(m_instance->hasChild() && m_instance->childPid() != pid, slow);
        QTRY_VERIFY(
            processCommandLine(m_instance->childPid()).endsWith(QStringLiteral("127.0.0.1:3000")));
        QTRY_COMPARE_WITH_TIMEOUT(m_instance->tunnelURLText(), fakeUrl, slow);
    }

    void deleteOnlyCallsBack() {
        startAndWaitForUrl();
        const qint64 pid = m_instance->childPid();
        QTest::mouseClick(child<QToolButton>("deleteButton"), Qt::LeftButton);
        QCOMPARE(m_deletes, 1);
        QTest::qWait(200);
        QVERIFY(processAlive(pid));
        QVERIFY(m_instance->isRunning());
    }
};

QTEST_MAIN(TestTunnelRow)
#include "tst_tunnelrow.moc"
