#include "ui/RequestMessagesPane.h"

#include "model/ExchangeText.h"
#include "model/MessageListModel.h"
#include "ui/CompactTable.h"
#include "ui/DetailText.h"

RequestMessagesPane::RequestMessagesPane(RequestLog* log, QWidget* parent)
    : QSplitter(Qt::Vertical, parent)
    , m_messages(new MessageListModel(log, this)) {
    m_table = new CompactTable(m_messages, MessageListModel::DataColumn,
                               {MessageListModel::DirectionColumn, MessageListModel::TimeColumn,
                                MessageListModel::SizeColumn},
                               QAbstractItemView::SingleSelection, this);
    m_table->setObjectName(QStringLiteral("messageTable"));
    m_table->setAccessibleName(tr("WebSocket messages, oldest first"));
    m_text = new DetailText(QStringLiteral("messageText"), tr("Message"), this);
    addWidget(m_table);
    addWidget(m_text);
    setStretchFactor(0, 2);
    setStretchFactor(1, 1);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RequestMessagesPane::showSelected);
    connect(m_messages, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first) {
                // While the newest was in view, the view follows the newest.
                const QRect before = m_table->visualRect(m_messages->index(first - 1, 0));
                if (first == 0 || m_table->viewport()->rect().intersects(before))
                    m_table->scrollToBottom();
                if (!m_table->selectionModel()->hasSelection())
                    showSelected();
                emit messagesArrived();
            });
}

void RequestMessagesPane::setExchange(quint64 id) {
    m_messages->setExchange(id);
    if (!m_table->selectionModel()->hasSelection())
        showSelected();
}

quint64 RequestMessagesPane::exchangeId() const {
    return m_messages->exchangeId();
}

void RequestMessagesPane::showSelected() {
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    const WebSocketMessage* message = m_messages->messageAt(current.isValid() ? current.row() : -1);
    if (!message) {
        m_text->setPlainText(m_messages->rowCount()
                                 ? tr("Select a message to see it in full.")
                                 : tr("No messages yet. They appear here as they pass."));
        return;
    }
    if (message->unreadable) {
        m_text->setPlainText(MessageListModel::summary(*message));
        return;
    }
    // Text as text (JSON pretty-printed), anything else as binary.
    m_text->setPlainText(ExchangeText::body(
        message->payload, message->isText() ? "text/plain" : "application/octet-stream",
        message->size));
}
