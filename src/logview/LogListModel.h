#pragma once

#include "logview/LogView.h"

#include <QAbstractTableModel>

#include <vector>

namespace velda {

// The found log rows for the list view: one line per row, the five columns of the log, no widget
// item per row, so a search of hundreds of thousands of rows lists as fast as it reads.
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

private:
    std::vector<LogRow> m_rows;
};

} // namespace velda
