// The scanner panel on real listeners of ephemeral ports: fresh, first scan, results in
// ascending order, rescan keeping the old rows, nothing found, and "+ Tunnel".
#include "TestSupport.h"
#include "ui/BusySpinner.h"
#include "ui/PortScannerView.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

constexpr int slow = 15000;

std::unique_ptr<QTcpServer> listener() {
    auto server = std::make_unique<QTcpServer>();
    if (!server->listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen");
    return server;
}

qint64 closedPort() {
    auto server = listener();
    const qint64 port = server->serverPort();
    server->close();
    return port;
}

} // namespace

class TestPortScannerView : public QObject {
    Q_OBJECT

    QList<qint64> m_selected;

    static QStringList addresses(PortScannerView& panel) {
        QList<QWidget*> rows;
        for (auto* row : panel.findChildren<QWidget*>(QStringLiteral("portRow"))) {
            if (!row->isHidden())
                rows << row;
        }
        std::sort(rows.begin(), rows.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
        QStringList texts;
        for (auto* row : rows)
            texts << row->findChild<QLabel*>(QStringLiteral("portAddress"))->text();
        return texts;
    }
    static QLabel* hint(PortScannerView& panel) {
        return panel.findChild<QLabel*>(QStringLiteral("scanHint"));
    }
    static QToolButton* refresh(PortScannerView& panel) {
        return panel.findChild<QToolButton*>(QStringLiteral("refreshButton"));
    }

private slots:
    void init() { m_selected.clear(); }

    void scansOnlyOnRequestAndListsOpenPortsAscending() {
        auto high = listener();
        auto low = listener();
        const qint64 closed = closedPort();
        QList<qint64> ports{closed, high->serverPort(), low->serverPort()};
        const qint64 first = qMin(high->serverPort(), low->serverPort());
        const qint64 second = qMax(high->serverPort(), low->serverPort());

        PortScannerView panel([this](qint64 port) { m_selected << port; }, ports);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(hint(panel)->text(), QStringLiteral("Click refresh to scan ports"));
        QTest::qWait(200);
        QVERIFY(!panel.isScanning() && !panel.hasScanned());

        QSignalSpy finished(&panel, &PortScannerView::scanFinished);
        QTest::mouseClick(refresh(panel), Qt::LeftButton);
        // First scan running: hint stays, spinner instead of the arrow, button disabled.
        QVERIFY(panel.isScanning());
        QVERIFY(!refresh(panel)->isEnabled());
        QVERIFY(hint(panel)->isVisible());
        QTRY_VERIFY(panel.findChild<BusySpinner*>(QStringLiteral("scanSpinner"))->isVisible());
        panel.startScan(); // a second request while scanning is ignored
        QVERIFY(finished.wait(slow));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!panel.isScanning());
        QVERIFY(refresh(panel)->isEnabled());
        QVERIFY(hint(panel)->isHidden());
        QCOMPARE(addresses(panel), (QStringList{QStringLiteral("localhost:%1").arg(first),
                                                QStringLiteral("localhost:%1").arg(second)}));

        // "+ Tunnel" hands the port over once and changes nothing in the panel.
        QList<QToolButton*> buttons;
        for (auto* button : panel.findChildren<QToolButton*>(QStringLiteral("addPortButton")))
            buttons << button;
        std::sort(buttons.begin(), buttons.end(), [](QWidget* a, QWidget* b) {
            return a->mapTo(a->window(), QPoint()).y() < b->mapTo(b->window(), QPoint()).y();
        });
        QCOMPARE(buttons.first()->text(), QStringLiteral("+ Tunnel"));
        QTest::mouseClick(buttons.first(), Qt::LeftButton);
        QCOMPARE(m_selected, QList<qint64>{first});
        QCOMPARE(addresses(panel).size(), 2);

        // Rescan: the old rows stay (and work) until the new result replaces them.
        high.reset();
        low.reset();
        QTest::mouseClick(refresh(panel), Qt::LeftButton);
        QVERIFY(panel.isScanning());
        QCOMPARE(addresses(panel).size(), 2);
        QTest::mouseClick(buttons.last(), Qt::LeftButton);
        QCOMPARE(m_selected, (QList<qint64>{first, second}));
        QVERIFY(finished.wait(slow));
        QVERIFY(addresses(panel).isEmpty());
        QVERIFY(hint(panel)->isVisible());
        QCOMPARE(hint(panel)->text(), QStringLiteral("No open ports found"));
    }
};

QTEST_MAIN(TestPortScannerView)
#include "tst_portscannerview.moc"
