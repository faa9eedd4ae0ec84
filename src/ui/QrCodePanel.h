#pragma once

#include <QFrame>
#include <QPointer>

class QLabel;
class QPushButton;
class QrCodeView;
class TunnelInstance;

// A tunnel's public URL as a QR code for a phone, the URL in full under it, "Copy URL" and
// "Open in Browser"; for a tunnel that asks for a password, the user name and password under the
// URL with "Copy Password". A popup beside the status window: Escape or a click elsewhere closes
// it. It follows the tunnel: a new URL (after a restart) redraws the code, and it closes once the
// tunnel has stopped.
class QrCodePanel : public QFrame {
    Q_OBJECT

public:
    QrCodePanel(TunnelInstance* instance, QWidget* parent);

    QrCodeView* codeView() const { return m_code; }
    // Shows beside the host window (global geometry), level with the anchor, inside the screen.
    void showBeside(const QRect& host, const QRect& anchor);

private:
    void follow();

    QPointer<TunnelInstance> m_instance;
    QLabel* m_title;
    QrCodeView* m_code;
    QLabel* m_url;
    QWidget* m_credentials;
    QLabel* m_userLabel;
    QLabel* m_passwordLabel;
    QPushButton* m_copyPasswordButton;
    QPushButton* m_copyButton;
    QPushButton* m_openButton;
};
