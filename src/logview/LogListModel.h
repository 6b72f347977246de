#pragma once

#include "logview/LogView.h"

#include <QAbstractTableModel>

#include <vector>

namespace velda {

// The found log rows for the list view: one line per row, the five columns of the log, no widget
// item per row, so a search of hundreds of thousands of rows lists as fast as it reads. The rows are
// kept in the order shown: newest first until the user sorts by another column, whose choice then
// holds for the following searches too.
class LogListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static QStringList headers();

    void setRows(std::vector<LogRow> rows);
    void clear() { setRows({}); }
    // Empties the list and hands its rows over, so that a worker can free them off the window's thread.
    std::vector<LogRow> takeRows();
    const std::vector<LogRow>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    static constexpr int kTimeColumn = 3;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    // The row numbers of m_rows in the order the current sort key puts them.
    std::vector<int> sortedOrder() const;
    // Puts the rows in that order; returns where each row went.
    std::vector<int> reorder();

    std::vector<LogRow> m_rows;
    int m_sortColumn = kTimeColumn;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
};

} // namespace velda
