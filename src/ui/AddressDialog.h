#pragma once

#include <QDialog>
#include <QPointer>
#include <optional>

class QDialogButtonBox;
class QLineEdit;
class QRadioButton;
class TunnelInstance;

// Where a tunnel is reached: quick (a new trycloudflare.com address at each start) or a host
// name on the user's own domain that stays. Accepting sets the tunnel's hostname; a running
// tunnel starts over on the new address, which the dialog says. Deletes itself when closed.
class AddressDialog : public QDialog {
    Q_OBJECT

public:
    AddressDialog(TunnelInstance* instance, QWidget* parent);

    void accept() override;

private:
    // The host name as it would be saved; nullopt while the typed text is none.
    std::optional<QString> chosen() const;
    void validate();

    QPointer<TunnelInstance> m_instance;
    QRadioButton* m_quick;
    QRadioButton* m_own;
    QLineEdit* m_hostname;
    QDialogButtonBox* m_buttons;
};
