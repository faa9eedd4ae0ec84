#pragma once

#include "ports/PortResult.h"

#include <QList>
#include <QWidget>
#include <functional>

class BusySpinner;
class QLabel;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

// Lists the local ports that have a listener, on request, each with a "+ Tunnel" button that
// hands the port to the owner. It scans only when its refresh button is pressed; the scan runs
// away from the GUI thread.
class PortScannerView : public QWidget {
    Q_OBJECT

public:
    // ports: the ports to probe; the common development ports unless told otherwise.
    explicit PortScannerView(std::function<void(qint64)> onSelectPort, QList<qint64> ports = {},
                             QWidget* parent = nullptr);

    bool isScanning() const { return m_isScanning; }
    bool hasScanned() const { return m_hasScanned; }

    // The refresh button's action.
    void startScan();

signals:
    void scanFinished();

private:
    void finishScan(const QList<PortResult>& results);
    void rebuildContent();

    std::function<void(qint64)> m_onSelectPort;
    QList<qint64> m_ports;
    bool m_isScanning = false;
    bool m_hasScanned = false;
    QList<PortResult> m_openPorts;

    QLabel* m_title;
    QStackedWidget* m_refreshStack;
    QToolButton* m_refreshButton;
    BusySpinner* m_spinner;
    QLabel* m_hint;
    QWidget* m_rows;
    QVBoxLayout* m_rowsLayout;
};
