#include "ui/AddressDialog.h"

#include "model/HostnameText.h"
#include "model/TunnelInstance.h"
#include "ui/Theme.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

AddressDialog::AddressDialog(TunnelInstance* instance, QWidget* parent)
    : QDialog(parent)
    , m_instance(instance) {
    setObjectName(QStringLiteral("addressDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Address of %1").arg(instance->config().name));

    auto* root = new QVBoxLayout(this);
    m_quick = new QRadioButton(tr("Quick: a new trycloudflare.com address at each start"), this);
    m_quick->setObjectName(QStringLiteral("quickChoice"));
    m_own = new QRadioButton(tr("On your own domain, the same at every start:"), this);
    m_own->setObjectName(QStringLiteral("hostnameChoice"));
    m_hostname = new QLineEdit(instance->publicHostname(), this);
    m_hostname->setObjectName(QStringLiteral("hostnameField"));
    m_hostname->setPlaceholderText(QStringLiteral("dev.example.com"));
    m_hostname->setAccessibleName(tr("Host name"));
    m_hostname->setFont(Theme::monospaced(font()));
    auto* note = new QLabel(tr("Quillby creates the tunnel in your account and points the name at "
                               "it on the first start."),
                            this);
    note->setWordWrap(true);
    root->addWidget(m_quick);
    root->addWidget(m_own);
    root->addWidget(m_hostname);
    root->addWidget(note);
    if (instance->isRunning()) {
        auto* restart = new QLabel(tr("The running tunnel restarts on the new address."), this);
        restart->setObjectName(QStringLiteral("restartNote"));
        restart->setWordWrap(true);
        root->addWidget(restart);
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        label->setFont(Theme::callout());
        Theme::setForeground(label, Theme::secondary(palette()));
    }
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    root->addWidget(m_buttons);
    setMinimumWidth(360);

    (instance->publicHostname().isEmpty() ? m_quick : m_own)->setChecked(true);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_own, &QRadioButton::toggled, this, &AddressDialog::validate);
    // Typing a name chooses it.
    connect(m_hostname, &QLineEdit::textEdited, m_own, [this] { m_own->setChecked(true); });
    connect(m_hostname, &QLineEdit::textChanged, this, &AddressDialog::validate);
    validate();
}

std::optional<QString> AddressDialog::chosen() const {
    if (m_quick->isChecked())
        return QString();
    const auto host = parseHostnameText(m_hostname->text());
    return host && !host->isEmpty() ? host : std::nullopt;
}

void AddressDialog::validate() {
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(chosen().has_value());
}

void AddressDialog::accept() {
    const auto host = chosen();
    if (!host)
        return;
    if (m_instance && *host != m_instance->publicHostname())
        m_instance->setHostname(*host);
    QDialog::accept();
}
