#pragma once

#include <QMessageBox>

// The alert shown when the client is not installed: what is missing, the command that
// installs it, and a button that copies that command. Deletes itself when closed.
class CloudflaredMissingAlert : public QMessageBox {
    Q_OBJECT

public:
    // The install command that fits this system, as shown and copied.
    static QString installCommand();

    explicit CloudflaredMissingAlert(QWidget* parent);
};
