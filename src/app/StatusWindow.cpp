#include "app/StatusWindow.h"

#include "app/PopupPlacement.h"
#include "ui/StatusMenuView.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A click on the tray icon that closed the popup arrives right after it closed.
constexpr int reopenGuardMs = 300;

} // namespace

StatusWindow::StatusWindow(StatusMenuView* view, QWidget* parent)
    : QWidget(parent)
    , m_view(view) {
    setObjectName(QStringLiteral("statusWindow"));
    setWindowTitle(tr("Quillby"));
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    // The window is always exactly as large as its content.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_noTrayNotice = new QLabel(
        tr("No system tray was found, so Quillby shows its window here. Closing it leaves your "
           "tunnels running; start Quillby again to bring it back."),
        this);
    m_noTrayNotice->setObjectName(QStringLiteral("noTrayNotice"));
    m_noTrayNotice->setWordWrap(true);
    m_noTrayNotice->setFont(Theme::callout());
    m_noTrayNotice->setContentsMargins(14, 10, 14, 4);
    m_noTrayNotice->setFixedWidth(StatusMenuView::windowWidth);
    Theme::setForeground(m_noTrayNotice, Theme::secondary(palette()));
    m_noTrayNotice->hide();
    layout->addWidget(m_noTrayNotice);

    m_view->setParent(this);
    layout->addWidget(m_view);

    setMode(Mode::Popup);
}

void StatusWindow::setMode(Mode mode) {
    const bool visible = isVisible();
    m_mode = mode;
    if (mode == Mode::Popup) {
        // A tool window rather than a Qt::Popup, so the missing-client alert can open from it.
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        layout()->setContentsMargins(1, 1, 1, 1);
    } else {
        setWindowFlags(Qt::Window);
        layout()->setContentsMargins(0, 0, 0, 0);
    }
    m_noTrayNotice->setVisible(mode == Mode::Window);
    if (visible)
        show();
}

void StatusWindow::showAt(std::optional<QRect> anchor) {
    if (m_mode != Mode::Popup)
        setMode(Mode::Popup);
    if (canPlaceWindows())
        m_anchor = anchor && anchor->isValid() ? *anchor : QRect(QCursor::pos(), QSize(1, 1));
    adjustSize();
    place();
    show();
    raise();
    activateWindow();
}

void StatusWindow::toggleAt(std::optional<QRect> anchor) {
    if (isVisible()) {
        hide();
        return;
    }
    if (m_sinceAutoHide.isValid() && m_sinceAutoHide.elapsed() < reopenGuardMs) {
        m_sinceAutoHide.invalidate();
        return;
    }
    showAt(anchor);
}

void StatusWindow::present() {
    if (m_mode == Mode::Popup) {
        showAt(std::nullopt);
        return;
    }
    if (!isVisible()) {
        adjustSize();
        QScreen* screen = canPlaceWindows() ? QGuiApplication::screenAt(QCursor::pos()) : nullptr;
        if (screen) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    showNormal();
    raise();
    activateWindow();
}

void StatusWindow::place() {
    if (m_mode != Mode::Popup || !canPlaceWindows())
        return;
    QScreen* screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(placePopup(m_anchor, size(), screen->availableGeometry()));
}

void StatusWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void StatusWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && m_mode == Mode::Popup && !isActiveWindow())
        // Decided once the new active window is known: our own alert keeps the popup open.
        QTimer::singleShot(0, this, &StatusWindow::hideIfInactive);
}

void StatusWindow::hideIfInactive() {
    if (m_mode != Mode::Popup || !isVisible() || isActiveWindow())
        return;
    for (QWidget* active = QApplication::activeWindow(); active; active = active->parentWidget()) {
        if (active == this)
            return;
    }
    if (QApplication::activeModalWidget())
        return;
    hide();
    m_sinceAutoHide.start();
}

void StatusWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The content grows and shrinks (scanner panel, rows); stay inside the screen.
    if (isVisible())
        place();
}

void StatusWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_mode != Mode::Popup)
        return;
    // Frameless: draw our own hairline border.
    QPainter painter(this);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.25);
    painter.setPen(border);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
