#pragma once

#include <QHash>
#include <QUuid>
#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;
class TunnelRowView;
class TunnelStore;

// The tunnel rows in list order, each followed by a divider, or the empty state when there are
// none. As tall as its rows up to maxListHeight, scrolling beyond. Rows report deletes and
// edits to the store; removing a tunnel on a hostname first asks whether its named tunnel
// goes from the account too.
class TunnelListView : public QWidget {
    Q_OBJECT

public:
    static constexpr int maxListHeight = 350;

    explicit TunnelListView(TunnelStore* store, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void syncRows();
    void updateListHeight();
    void removeTunnel(const QUuid& id);
    // Signs in for a row's problem, then starts its tunnel.
    void signInFor(const QUuid& id);

    TunnelStore* m_store;
    QWidget* m_emptyState;
    QScrollArea* m_list;
    QWidget* m_listContent;
    QVBoxLayout* m_listLayout;
    QHash<QUuid, TunnelRowView*> m_rows;
};
