#include "ui/RequestDetailPane.h"

#include "model/ExchangeText.h"
#include "model/RequestLog.h"
#include "ui/DetailText.h"
#include "ui/PaletteTint.h"
#include "ui/RequestMessagesPane.h"
#include "ui/Theme.h"

#include <QLabel>
#include <QLocale>

RequestDetailPane::RequestDetailPane(RequestLog* log, QWidget* parent)
    : QTabWidget(parent)
    , m_log(log) {
    setObjectName(QStringLiteral("detailTabs"));
    setAccessibleName(tr("Selected request"));
    m_requestText = new DetailText(QStringLiteral("requestText"), tr("Request"), this);
    m_responseText = new DetailText(QStringLiteral("responseText"), tr("Response"), this);
    addTab(m_requestText, tr("&Request"));
    addTab(m_responseText, tr("Re&sponse"));
    m_messages = new RequestMessagesPane(log, this);
    addTab(m_messages, tr("&Messages"));
    setTabVisible(indexOf(m_messages), false);
    connect(m_messages, &RequestMessagesPane::messagesArrived, this, [this] {
        const int row = m_log ? m_log->rowOf(m_messages->exchangeId()) : -1;
        showMessages(row >= 0 ? &m_log->exchangeAt(row) : nullptr);
    });
    m_timingLabel = new QLabel(this);
    m_timingLabel->setObjectName(QStringLiteral("timingLabel"));
    PaletteTint::text(m_timingLabel, Theme::Tone::Secondary);
    setCornerWidget(m_timingLabel);
}

void RequestDetailPane::showExchange(const HttpExchange* exchange) {
    m_requestText->setPlainText(exchange ? ExchangeText::request(*exchange) : QString());
    m_responseText->setPlainText(exchange ? ExchangeText::response(*exchange) : QString());
    m_timingLabel->setText(exchange ? ExchangeText::timing(*exchange) : QString());
    showMessages(exchange);
}

void RequestDetailPane::showMessages(const HttpExchange* exchange) {
    const bool upgraded = exchange && (exchange->status == 101 || !exchange->messages.isEmpty());
    m_messages->setExchange(upgraded ? exchange->id : 0);
    setTabVisible(indexOf(m_messages), upgraded);
    if (!upgraded)
        return;
    const qint64 count = exchange->messages.size() + exchange->messagesDropped;
    setTabText(indexOf(m_messages), tr("&Messages (%1)").arg(QLocale().toString(count)));
}
