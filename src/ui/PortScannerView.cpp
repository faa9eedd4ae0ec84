#include "ui/PortScannerView.h"

#include "ports/PortScanner.h"
#include "ui/BusySpinner.h"
#include "ui/PaletteTint.h"
#include "ui/StatusDot.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

PortScannerView::PortScannerView(std::function<void(qint64)> onSelectPort, QList<qint64> ports,
                                 QWidget* parent)
    : QWidget(parent)
    , m_onSelectPort(std::move(onSelectPort))
    , m_ports(ports.isEmpty()
                  ? QList<qint64>(PortScanner::commonPorts.begin(), PortScanner::commonPorts.end())
                  : std::move(ports)) {
    setObjectName(QStringLiteral("portScannerView"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(14, 8, 14, 8);
    root->setSpacing(8);

    auto* header = new QHBoxLayout;
    m_title = new QLabel(tr("Active Local Ports"), this);
    QFont titleFont = Theme::callout();
    titleFont.setWeight(QFont::Medium);
    m_title->setFont(titleFont);
    const int side = QFontMetrics(Theme::callout()).height();
    m_refreshStack = new QStackedWidget(this);
    m_refreshStack->setFixedSize(side + 6, side + 6);
    m_refreshButton = new QToolButton(m_refreshStack);
    m_refreshButton->setObjectName(QStringLiteral("refreshButton"));
    m_refreshButton->setAccessibleName(tr("Scan ports"));
    m_refreshButton->setAutoRaise(true);
    m_refreshButton->setIconSize({side - 2, side - 2});
    m_refreshButton->setCursor(Qt::PointingHandCursor);
    m_spinner = new BusySpinner(side - 4, m_refreshStack);
    m_spinner->setObjectName(QStringLiteral("scanSpinner"));
    auto* spinnerBox = new QWidget(m_refreshStack);
    auto* spinnerLayout = new QHBoxLayout(spinnerBox);
    spinnerLayout->setContentsMargins(0, 0, 0, 0);
    spinnerLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_refreshStack->addWidget(m_refreshButton);
    m_refreshStack->addWidget(spinnerBox);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_refreshStack);
    root->addLayout(header);

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("scanHint"));
    m_hint->setFont(Theme::callout());
    m_hint->setContentsMargins(0, 2, 0, 2);
    root->addWidget(m_hint);

    // Rows stand 8 apart, like the stack they belong to.
    m_rows = new QWidget(this);
    m_rowsLayout = new QVBoxLayout(m_rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(8);
    root->addWidget(m_rows);

    connect(m_refreshButton, &QToolButton::clicked, this, &PortScannerView::startScan);

    PaletteTint::text(m_title, Theme::Tone::Secondary);
    PaletteTint::text(m_hint, Theme::Tone::Tertiary);
    PaletteTint::icon(m_refreshButton, QStringLiteral("arrow.clockwise"), Theme::Tone::Secondary);
    // The result rows are coloured as they are built.
    PaletteTint::follow(this, [this](const QPalette&) { rebuildContent(); });
}

void PortScannerView::startScan() {
    if (m_isScanning)
        return;
    m_isScanning = true;
    m_refreshButton->setEnabled(false);
    m_refreshStack->setCurrentIndex(1);
    PortScanner::scanPorts(
        this, [this](QList<PortResult> results) { finishScan(results); }, m_ports);
}

void PortScannerView::finishScan(const QList<PortResult>& results) {
    m_openPorts = results;
    m_hasScanned = true;
    m_isScanning = false;
    m_refreshButton->setEnabled(true);
    m_refreshStack->setCurrentIndex(0);
    rebuildContent();
    emit scanFinished();
}

void PortScannerView::rebuildContent() {
    while (QLayoutItem* item = m_rowsLayout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    if (!m_hasScanned || m_openPorts.isEmpty()) {
        m_hint->setText(m_hasScanned ? tr("No open ports found")
                                     : tr("Click refresh to scan ports"));
        m_hint->show();
        m_rows->hide();
        return;
    }
    m_hint->hide();
    const QPalette& pal = palette();
    for (const PortResult& result : m_openPorts) {
        const qint64 port = result.port;
        auto* row = new QWidget(m_rows);
        row->setObjectName(QStringLiteral("portRow"));
        row->setProperty("port", port);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* dot = new StatusDot(row);
        dot->setFixedSize(5, 5);
        dot->setColor(Theme::named(Theme::Named::Orange, pal));
        auto* address = new QLabel(QStringLiteral("localhost:") + QString::number(port), row);
        address->setObjectName(QStringLiteral("portAddress"));
        address->setFont(Theme::monospaced(Theme::callout()));
        auto* add = new QToolButton(row);
        add->setObjectName(QStringLiteral("addPortButton"));
        add->setText(tr("+ Tunnel"));
        add->setAccessibleName(tr("Add a tunnel for port %1").arg(port));
        add->setFont(Theme::callout());
        add->setAutoRaise(true);
        add->setCursor(Qt::PointingHandCursor);
        Theme::setForeground(add, Theme::named(Theme::Named::Blue, pal));
        connect(add, &QToolButton::clicked, this, [this, port] {
            if (m_onSelectPort)
                m_onSelectPort(port);
        });
        layout->addWidget(dot, 0, Qt::AlignVCenter);
        layout->addWidget(address);
        layout->addStretch(1);
        layout->addWidget(add);
        m_rowsLayout->addWidget(row);
    }
    m_rows->show();
}
