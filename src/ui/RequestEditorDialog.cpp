#include "ui/RequestEditorDialog.h"

#include "ui/PaletteTint.h"
#include "ui/Theme.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

namespace {

QPlainTextEdit* codeEdit(const QString& objectName, const QString& text, QWidget* parent) {
    auto* edit = new QPlainTextEdit(text, parent);
    edit->setObjectName(objectName);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setFont(Theme::monospaced(Theme::callout()));
    edit->setTabChangesFocus(true);
    return edit;
}

} // namespace

RequestEditorDialog::RequestEditorDialog(const HttpExchange& captured, QWidget* parent)
    : QDialog(parent)
    , m_captured(captured) {
    setObjectName(QStringLiteral("requestEditor"));
    setWindowTitle(tr("Edit and Replay"));
    resize(640, 520);

    m_method = new QComboBox(this);
    m_method->setObjectName(QStringLiteral("methodEdit"));
    m_method->setEditable(true);
    m_method->addItems({QStringLiteral("GET"), QStringLiteral("POST"), QStringLiteral("PUT"),
                        QStringLiteral("PATCH"), QStringLiteral("DELETE"), QStringLiteral("HEAD"),
                        QStringLiteral("OPTIONS")});
    m_method->setCurrentText(QString::fromLatin1(captured.method));
    m_path = new QLineEdit(QString::fromUtf8(captured.target), this);
    m_path->setObjectName(QStringLiteral("pathEdit"));
    m_path->setFont(Theme::monospaced(Theme::callout()));

    QString headerText;
    for (const auto& [name, value] : captured.requestHeaders)
        headerText += QString::fromUtf8(name + ": " + value) + QLatin1Char('\n');
    m_headers = codeEdit(QStringLiteral("headersEdit"), headerText, this);

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString bodyText = decoder(captured.requestBody);
    m_bodyIsText = !decoder.hasError() && !captured.requestBody.contains('\0');
    m_crlf = captured.requestBody.contains("\r\n"); // the editor keeps lines, not their ends
    m_body = codeEdit(QStringLiteral("bodyEdit"), m_bodyIsText ? bodyText : QString(), this);
    auto* bodyNote = new QLabel(this);
    bodyNote->setObjectName(QStringLiteral("bodyNote"));
    bodyNote->setWordWrap(true);
    PaletteTint::text(bodyNote, Theme::Tone::Secondary);
    if (!m_bodyIsText) {
        m_body->setPlaceholderText(
            tr("%1 of binary data, sent unchanged")
                .arg(QLocale().formattedDataSize(captured.requestBody.size())));
        m_body->setReadOnly(true);
    }
    if (captured.requestBodyCut())
        bodyNote->setText(tr("Only the first %1 of the body was kept; that part is sent.")
                              .arg(QLocale().formattedDataSize(captured.requestBody.size())));
    bodyNote->setVisible(!bodyNote->text().isEmpty());

    auto* form = new QFormLayout;
    form->addRow(tr("&Method:"), m_method);
    form->addRow(tr("&Path:"), m_path);
    form->addRow(tr("&Headers:"), m_headers);
    form->addRow(tr("&Body:"), m_body);
    form->addRow(QString(), bodyNote);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* send = buttons->addButton(tr("&Send"), QDialogButtonBox::AcceptRole);
    send->setObjectName(QStringLiteral("sendButton"));
    send->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* root = new QVBoxLayout(this);
    root->addLayout(form, 1);
    root->addWidget(buttons);
}

HttpExchange::Headers RequestEditorDialog::parseHeaders(const QString& text) {
    HttpExchange::Headers headers;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        headers.append(
            {line.left(colon).trimmed().toUtf8(), line.mid(colon + 1).trimmed().toUtf8()});
    }
    return headers;
}

HttpExchange RequestEditorDialog::edited() const {
    HttpExchange request = m_captured;
    request.edited = true;
    const QString method = m_method->currentText().trimmed();
    const QString path = m_path->text().trimmed();
    if (!method.isEmpty())
        request.method = method.toLatin1();
    if (!path.isEmpty())
        request.target = path.startsWith(QLatin1Char('/')) ? path.toUtf8() : '/' + path.toUtf8();
    request.requestHeaders = parseHeaders(m_headers->toPlainText());
    if (m_bodyIsText) {
        request.requestBody = m_body->toPlainText().toUtf8();
        if (m_crlf)
            request.requestBody.replace("\r\n", "\n").replace("\n", "\r\n");
    }
    request.requestBodySize = request.requestBody.size();
    return request;
}
