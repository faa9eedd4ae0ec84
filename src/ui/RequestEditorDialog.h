#pragma once

#include "proxy/HttpExchange.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// A copy of a captured request to change before it goes to the local server again: method,
// path and query, header fields one a line, body. A body that is not text is sent unchanged.
class RequestEditorDialog : public QDialog {
    Q_OBJECT

public:
    explicit RequestEditorDialog(const HttpExchange& captured, QWidget* parent = nullptr);

    // The request as edited, marked as such; empty method or path: as captured.
    HttpExchange edited() const;
    // "Name: value" lines as header fields; lines without a colon are left out.
    static HttpExchange::Headers parseHeaders(const QString& text);

private:
    HttpExchange m_captured;
    bool m_bodyIsText = true;
    bool m_crlf = false;
    QComboBox* m_method;
    QLineEdit* m_path;
    QPlainTextEdit* m_headers;
    QPlainTextEdit* m_body;
};
