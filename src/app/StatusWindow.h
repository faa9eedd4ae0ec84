#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>
#include <optional>

class QLabel;
class StatusMenuView;

// Hosts the status view. With a tray it is a frameless popup by the icon that closes on Escape
// or when another application becomes active; without one it is an ordinary small window that
// says why it is there.
class StatusWindow : public QWidget {
    Q_OBJECT

public:
    enum class Mode { Popup, Window };

    explicit StatusWindow(StatusMenuView* view, QWidget* parent = nullptr);

    StatusMenuView* view() const { return m_view; }
    Mode mode() const { return m_mode; }
    void setMode(Mode mode);

    // Popup: shows by the anchor, the tray icon's geometry. Without one (a StatusNotifierItem
    // host: Qt passes on no position) by the pointer, which is where the click on the icon was.
    // Where windows cannot be placed (Wayland) wherever the compositor puts it.
    void showAt(std::optional<QRect> anchor);
    // A click on the tray icon: shows or hides. A click that just closed the popup (by taking
    // the focus from it) does not reopen it.
    void toggleAt(std::optional<QRect> anchor);
    // Brings the window up wherever it fits best (second launch, no tray).
    void present();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();
    void hideIfInactive();

    StatusMenuView* m_view;
    QLabel* m_noTrayNotice;
    Mode m_mode = Mode::Popup;
    QRect m_anchor;
    QElapsedTimer m_sinceAutoHide;
};
