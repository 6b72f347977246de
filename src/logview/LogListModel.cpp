#include "logview/LogListModel.h"

#include <algorithm>

namespace velda {

QStringList LogListModel::headers() {
    return {QStringLiteral("序号"), QStringLiteral("用户ID"), QStringLiteral("零件代号"), QStringLiteral("时间"),
            QStringLiteral("方式")};
}

void LogListModel::setRows(std::vector<LogRow> rows) {
    setOrderedRows(Ordered(std::move(rows), m_sortColumn, m_sortOrder));
}

void LogListModel::setOrderedRows(std::vector<LogRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

std::vector<LogRow> LogListModel::Ordered(std::vector<LogRow> rows, int column, Qt::SortOrder order) {
    const std::vector<int> sorted = sortedOrder(rows, column, order);
    std::vector<LogRow> out;
    out.reserve(rows.size());
    for (const int i : sorted)
        out.push_back(std::move(rows[static_cast<size_t>(i)]));
    return out;
}

std::vector<LogRow> LogListModel::takeRows() {
    beginResetModel();
    std::vector<LogRow> rows = std::move(m_rows);
    m_rows.clear();
    endResetModel();
    return rows;
}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int LogListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount())
        return {};
    const LogRow& r = m_rows[static_cast<size_t>(index.row())];
    switch (index.column()) {
    case 0:
        return QString::number(r.seq);
    case 1:
        return r.id;
    case 2:
        return r.code;
    case 3:
        return r.time;
    case 4:
        return r.word;
    default:
        return {};
    }
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return headers().value(section);
}

void LogListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= columnCount())
        return;
    m_wantedColumn = column;
    m_wantedOrder = order;
    // A sort already running takes the last wish when it is done.
    if (m_sorting)
        return;
    m_sorting = true;
    while (m_wantedColumn != m_sortColumn || m_wantedOrder != m_sortOrder) {
        const int c = m_wantedColumn;
        const Qt::SortOrder o = m_wantedOrder;
        std::vector<int> sorted;
        const auto work = [this, c, o, &sorted] { sorted = sortedOrder(m_rows, c, o); };
        if (m_run)
            m_run(work);
        else
            work();
        m_sortColumn = c;
        m_sortOrder = o;
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const std::vector<int> newRow = reorder(sorted);
        // The selection follows its rows to their new places.
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        for (const QModelIndex& index : before)
            after << this->index(newRow[static_cast<size_t>(index.row())], index.column());
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
    m_sorting = false;
}

std::vector<int> LogListModel::reorder(const std::vector<int>& order) {
    std::vector<LogRow> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRow(m_rows.size());
    for (size_t i = 0; i < order.size(); ++i) {
        newRow[static_cast<size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[static_cast<size_t>(order[i])]));
    }
    m_rows = std::move(sorted);
    return newRow;
}

std::vector<int> LogListModel::sortedOrder(const std::vector<LogRow>& rows, int column, Qt::SortOrder sortOrder) {
    // Rows of one value keep the order in which they were written (the log's number), in the same
    // direction, so that the newest of one second still comes first. The time text has fixed-width
    // fields, so its text order is its time order.
    QString LogRow::*text = nullptr;
    switch (column) {
    case 1:
        text = &LogRow::id;
        break;
    case 2:
        text = &LogRow::code;
        break;
    case kTimeColumn:
        text = &LogRow::time;
        break;
    case 4:
        text = &LogRow::word;
        break;
    default:
        break;
    }
    const bool descending = sortOrder == Qt::DescendingOrder;
    std::vector<int> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(), [&rows, text, descending](int i, int j) {
        const LogRow& a = rows[static_cast<size_t>(descending ? j : i)];
        const LogRow& b = rows[static_cast<size_t>(descending ? i : j)];
        if (text) {
            if (const int c = QString::compare(a.*text, b.*text); c != 0)
                return c < 0;
        }
        return a.seq < b.seq;
    });
    return order;
}

} // namespace velda
