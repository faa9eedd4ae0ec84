#include "ui/CloudflaredMissingAlert.h"

#include "platform/ClientInstallCommand.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>

QString CloudflaredMissingAlert::installCommand() {
    return createPlatformInstallCommand()->command();
}

CloudflaredMissingAlert::CloudflaredMissingAlert(QWidget* parent)
    : QMessageBox(QMessageBox::Warning, tr("cloudflared not found"), tr("cloudflared not found"),
                  QMessageBox::NoButton, parent) {
    setObjectName(QStringLiteral("cloudflaredMissingAlert"));
    setAttribute(Qt::WA_DeleteOnClose);
    setInformativeText(
        tr("cloudflared is not installed.\nInstall it with: %1").arg(installCommand()));
    // The title also heads the box itself: not every window manager shows window titles.
    if (auto* heading = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
    }
    QPushButton* copy = addButton(tr("Copy Install Command"), QMessageBox::AcceptRole);
    copy->setObjectName(QStringLiteral("copyInstallCommandButton"));
    QPushButton* ok = addButton(tr("OK"), QMessageBox::RejectRole);
    ok->setObjectName(QStringLiteral("okButton"));
    setDefaultButton(ok);
    setEscapeButton(ok);
    connect(copy, &QPushButton::clicked, this,
            [] { QApplication::clipboard()->setText(installCommand(), QClipboard::Clipboard); });
}
