#pragma once

#include "ui/PortScannerView.h"

#include <QList>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>

class Divider;

class QLabel;
class QToolButton;

// The "Scan Local Ports" toggle and, while folded in, a divider and a fresh scanner panel
// below it. Folding in and out is animated; a panel folded away is discarded.
class PortScannerSection : public QWidget {
    Q_OBJECT

public:
    static constexpr int foldDurationMs = 220;

    explicit PortScannerSection(std::function<void(qint64)> onSelectPort,
                                QWidget* parent = nullptr);

    void toggle();
    PortScannerView* panel() const { return m_panel; }
    // The ports a new panel probes (the common ones when empty).
    void setScanPorts(QList<qint64> ports) { m_scanPorts = std::move(ports); }

private:
    void updateChevron();
    void setRevealedHeight(int height);

    std::function<void(qint64)> m_onSelectPort;
    QList<qint64> m_scanPorts;
    bool m_showPortScanner = false;

    QToolButton* m_toggle;
    QLabel* m_toggleIcon;
    QLabel* m_toggleText;
    QLabel* m_chevron;
    QWidget* m_body;
    QPointer<PortScannerView> m_panel;
    QVariantAnimation m_fold;
};
