#pragma once

#include "logview/LogView.h"

#include <QAbstractTableModel>

#include <functional>
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
    // Rows already in the order the list shows (Ordered with the list's sort column and order).
    void setOrderedRows(std::vector<LogRow> rows);
    // The rows in the order the column and direction put them; on any thread: a list of hundreds of
    // thousands is put in order away from the window.
    static std::vector<LogRow> Ordered(std::vector<LogRow> rows, int column, Qt::SortOrder order);
    // Where a sort the user asks for runs: given the work, it returns once the work is done (by
    // default here and now; the dialog hands it to a worker while the window stays live).
    void setSortRunner(std::function<void(const std::function<void()>&)> run) { m_run = std::move(run); }
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
    // The row numbers of the rows in the order the column and direction put them.
    static std::vector<int> sortedOrder(const std::vector<LogRow>& rows, int column, Qt::SortOrder order);
    // Puts the rows in that order; returns where each row went.
    std::vector<int> reorder(const std::vector<int>& order);

    std::vector<LogRow> m_rows;
    int m_sortColumn = kTimeColumn;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    // The last order asked for: a click while a sort runs is taken once that sort is done.
    int m_wantedColumn = kTimeColumn;
    Qt::SortOrder m_wantedOrder = Qt::DescendingOrder;
    bool m_sorting = false;
    std::function<void(const std::function<void()>&)> m_run;
};

} // namespace velda
