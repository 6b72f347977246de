#include "logview/LogListModel.h"

namespace velda {

QStringList LogListModel::headers() {
    return {QStringLiteral("序号"), QStringLiteral("用户ID"), QStringLiteral("零件代号"), QStringLiteral("时间"),
            QStringLiteral("方式")};
}

void LogListModel::setRows(std::vector<LogRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
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

} // namespace velda
