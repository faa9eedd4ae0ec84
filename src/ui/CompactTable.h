#pragma once

#include <QList>
#include <QTableView>

// A table of one-line rows as the requests window shows them: whole rows selected, no grid, no
// row numbers, rows a line tall; one column takes the width left, the short ones fit what they
// hold.
class CompactTable : public QTableView {
    Q_OBJECT

public:
    CompactTable(QAbstractItemModel* model, int stretchColumn, QList<int> shortColumns,
                 QAbstractItemView::SelectionMode mode, QWidget* parent = nullptr);
    // The short columns fit what they hold now.
    void fitShortColumns();

private:
    QList<int> m_shortColumns;
};
