#include "ui/PortScannerSection.h"

#include "ui/Divider.h"
#include "ui/PaletteTint.h"
#include "ui/PortScannerView.h"
#include "ui/SymbolIcon.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

PortScannerSection::PortScannerSection(std::function<void(qint64)> onSelectPort, QWidget* parent)
    : QWidget(parent)
    , m_onSelectPort(std::move(onSelectPort)) {
    setObjectName(QStringLiteral("portScannerSection"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // The toggle spans the window's width: symbol, text, spacer, chevron.
    m_toggle = new QToolButton(this);
    m_toggle->setObjectName(QStringLiteral("scannerToggle"));
    m_toggle->setAccessibleName(tr("Scan Local Ports"));
    m_toggle->setCheckable(false);
    m_toggle->setAutoRaise(true);
    m_toggle->setCursor(Qt::PointingHandCursor);
    m_toggle->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* label = new QHBoxLayout(m_toggle);
    label->setContentsMargins(14, 10, 14, 10);
    m_toggleIcon = new QLabel(m_toggle);
    m_toggleText = new QLabel(tr("Scan Local Ports"), m_toggle);
    m_toggleText->setFont(Theme::callout());
    m_chevron = new QLabel(m_toggle);
    m_chevron->setObjectName(QStringLiteral("scannerChevron"));
    for (auto* part : {m_toggleIcon, m_toggleText, m_chevron})
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->addWidget(m_toggleIcon);
    label->addWidget(m_toggleText);
    label->addStretch(1);
    label->addWidget(m_chevron);
    m_toggle->setMinimumHeight(label->sizeHint().height());
    root->addWidget(m_toggle);

    // The divider and the panel live in a body whose height is animated.
    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("scannerBody"));
    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(new Divider(m_body));
    m_body->setMaximumHeight(0);
    m_body->hide();
    root->addWidget(m_body);

    m_fold.setDuration(foldDurationMs);
    m_fold.setEasingCurve(QEasingCurve::InOutCubic);
    connect(&m_fold, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setRevealedHeight(value.toInt()); });
    connect(&m_fold, &QVariantAnimation::finished, this, [this] {
        if (m_showPortScanner) {
            m_body->setMaximumHeight(QWIDGETSIZE_MAX);
        } else {
            m_body->hide();
            delete m_panel;
        }
    });
    connect(m_toggle, &QToolButton::clicked, this, &PortScannerSection::toggle);

    PaletteTint::symbol(m_toggleIcon, QStringLiteral("network"), Theme::Tone::Text,
                        QFontMetrics(Theme::callout()).height());
    PaletteTint::follow(m_chevron, [this](const QPalette&) { updateChevron(); });
}

void PortScannerSection::toggle() {
    m_showPortScanner = !m_showPortScanner;
    m_fold.stop();
    if (m_showPortScanner) {
        // A fresh panel every time it is folded in.
        delete m_panel;
        m_panel = new PortScannerView(m_onSelectPort, m_scanPorts, m_body);
        m_body->layout()->addWidget(m_panel);
        m_body->show();
        m_fold.setStartValue(m_body->maximumHeight() == QWIDGETSIZE_MAX ? 0
                                                                        : m_body->maximumHeight());
        m_fold.setEndValue(m_body->sizeHint().height());
    } else {
        m_fold.setStartValue(m_body->height());
        m_fold.setEndValue(0);
    }
    updateChevron();
    m_fold.start();
}

void PortScannerSection::setRevealedHeight(int height) {
    m_body->setMaximumHeight(height);
}

void PortScannerSection::updateChevron() {
    const int chevronSide = QFontMetrics(Theme::caption()).height();
    m_chevron->setPixmap(SymbolIcon::icon(m_showPortScanner ? QStringLiteral("chevron.up")
                                                            : QStringLiteral("chevron.down"),
                                          Theme::tertiary(palette()))
                             .pixmap(QSize(chevronSide, chevronSide), devicePixelRatioF()));
    m_chevron->setAccessibleName(m_showPortScanner ? tr("Hide the scanner")
                                                   : tr("Show the scanner"));
}
