#include "ui/CompactTable.h"

#include <QHeaderView>

CompactTable::CompactTable(QAbstractItemModel* model, int stretchColumn, QList<int> shortColumns,
                           QAbstractItemView::SelectionMode mode, QWidget* parent)
    : QTableView(parent)
    , m_shortColumns(std::move(shortColumns)) {
    setModel(model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(mode);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(stretchColumn, QHeaderView::Stretch);
    for (int column : m_shortColumns)
        horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

void CompactTable::fitShortColumns() {
    for (int column : m_shortColumns)
        resizeColumnToContents(column);
}
