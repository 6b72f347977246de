#include "library/LibraryList.h"

#include "library/LibraryRows.h"

#include <QSet>

#include <algorithm>

namespace velda {

namespace {
constexpr const char16_t* kHeaders[LibraryListModel::ColumnCount] = {
    u"代号", u"名称", u"状态", u"出库人", u"出库时间", u"最后入库人", u"最后入库时间", u"存储目录", u"本地副本"};

// The library's dates are year/month/day without leading zeros; an unreadable one sorts first.
qint64 DayNumber(const QString& text) {
    const QDate d = QDate::fromString(text, QStringLiteral("yyyy/M/d"));
    return d.isValid() ? d.toJulianDay() : 0;
}
} // namespace

QString LocalCopyText(LocalCopy copy) {
    switch (copy) {
    case LocalCopy::None:
        return QStringLiteral("无副本");
    case LocalCopy::Same:
        return QStringLiteral("未修改");
    case LocalCopy::Changed:
        return QStringLiteral("已修改");
    case LocalCopy::Older:
        return QStringLiteral("较旧");
    case LocalCopy::Unrecorded:
        return QStringLiteral("来历不明");
    }
    return {};
}

void LibraryListModel::setViewer(const QString& account, const QDate& today) {
    m_account = account;
    m_today = today;
    if (m_scope == Scope::MineOut || m_scope == Scope::Recent)
        relayout();
}

void LibraryListModel::setRows(std::vector<ListedDrawing> rows) {
    relayout([&] {
        m_rows = std::move(rows);
        m_days.resize(m_rows.size());
        for (size_t i = 0; i < m_rows.size(); ++i)
            m_days[i] = {DayNumber(m_rows[i].since), DayNumber(m_rows[i].checkInAt)};
    });
}

void LibraryListModel::setLocalCopies(QHash<QString, LocalCopy> copies) {
    m_local = std::move(copies);
    if (m_sortColumn == Local) {
        relayout();
    } else if (!m_shown.empty()) {
        emit dataChanged(index(0, Local), index(rowCount() - 1, Local));
    }
}

void LibraryListModel::setFilter(const QString& text) {
    if (text == m_filter)
        return;
    m_filter = text;
    relayout();
}

void LibraryListModel::setScope(Scope scope, const QString& volume) {
    m_scope = scope;
    m_volume = volume;
    relayout();
}

void LibraryListModel::setStateDecorations(const QVariant& normal, const QVariant& out) {
    m_normalIcon = normal;
    m_outIcon = out;
}

bool LibraryListModel::accepts(const ListedDrawing& d) const {
    switch (m_scope) {
    case Scope::All:
        break;
    case Scope::MineOut:
        if (d.holder.isEmpty() || d.holder != m_account)
            return false;
        break;
    case Scope::Out:
        if (d.holder.isEmpty() && d.state != rows::kOut)
            return false;
        break;
    case Scope::Recent: {
        const qint64 day = DayNumber(d.checkInAt);
        if (day == 0 || day < m_today.toJulianDay() - kRecentDays)
            return false;
        break;
    }
    case Scope::Volume:
        if (d.volume != m_volume)
            return false;
        break;
    }
    return m_filter.isEmpty() || d.code.contains(m_filter, Qt::CaseInsensitive) ||
           d.name.contains(m_filter, Qt::CaseInsensitive);
}

bool LibraryListModel::lessThan(int column, const ListedDrawing& a, const ListedDrawing& b) const {
    const auto days = [this](const ListedDrawing& d) { return m_days[size_t(&d - m_rows.data())]; };
    switch (column) {
    case Name:
        return a.name < b.name;
    case State:
        return a.state < b.state;
    case Holder:
        return a.holder < b.holder;
    case Since:
        return days(a).since < days(b).since;
    case CheckInBy:
        return a.checkInBy < b.checkInBy;
    case CheckInAt:
        return days(a).checkIn < days(b).checkIn;
    case Volume:
        return a.volume < b.volume;
    case Local:
        return int(localCopyOf(a.code)) < int(localCopyOf(b.code));
    default:
        return a.code < b.code;
    }
}

void LibraryListModel::relayout(const std::function<void()>& change) {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QStringList codes;
    codes.reserve(before.size());
    for (const QModelIndex& i : before)
        codes << (i.isValid() && size_t(i.row()) < m_shown.size() ? m_rows[size_t(m_shown[i.row()])].code : QString());
    if (change)
        change();

    m_shown.clear();
    m_shown.reserve(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (accepts(m_rows[i]))
            m_shown.push_back(int(i));
    // Ties keep the code order, so that one sort after another stays predictable.
    const int column = m_sortColumn;
    const bool ascending = m_order == Qt::AscendingOrder;
    std::stable_sort(m_shown.begin(), m_shown.end(), [&](int x, int y) {
        const ListedDrawing& a = m_rows[size_t(x)];
        const ListedDrawing& b = m_rows[size_t(y)];
        if (lessThan(column, a, b))
            return ascending;
        if (lessThan(column, b, a))
            return !ascending;
        return a.code < b.code;
    });

    if (!before.isEmpty()) {
        const QSet<QString> wanted(codes.begin(), codes.end());
        QHash<QString, int> at;
        for (size_t r = 0; r < m_shown.size() && at.size() < wanted.size(); ++r) {
            const QString& code = m_rows[size_t(m_shown[r])].code;
            if (wanted.contains(code))
                at.insert(code, int(r));
        }
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype k = 0; k < before.size(); ++k) {
            const int row = at.value(codes[k], -1);
            after << (row < 0 ? QModelIndex() : index(row, before[k].column()));
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged();
}

void LibraryListModel::sort(int column, Qt::SortOrder order) {
    m_sortColumn = column;
    m_order = order;
    relayout();
}

int LibraryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_shown.size()); }

int LibraryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

const ListedDrawing* LibraryListModel::drawingAt(int row) const {
    return row >= 0 && size_t(row) < m_shown.size() ? &m_rows[size_t(m_shown[size_t(row)])] : nullptr;
}

int LibraryListModel::rowOf(const QString& code) const {
    for (size_t r = 0; r < m_shown.size(); ++r)
        if (m_rows[size_t(m_shown[r])].code == code)
            return int(r);
    return -1;
}

QStringList LibraryListModel::volumes() const {
    QSet<QString> seen;
    for (const ListedDrawing& d : m_rows)
        seen.insert(d.volume);
    QStringList list(seen.begin(), seen.end());
    list.sort();
    return list;
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    const ListedDrawing* d = drawingAt(index.row());
    if (!d || !index.isValid())
        return {};
    if (role == Qt::DecorationRole && index.column() == State)
        return d->state == rows::kOut ? m_outIcon : m_normalIcon;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Code:
        return d->code;
    case Name:
        return d->name;
    case State:
        return d->state;
    case Holder:
        return d->holder;
    case Since:
        return d->since;
    case CheckInBy:
        return d->checkInBy;
    case CheckInAt:
        return d->checkInAt;
    case Volume:
        return d->volume;
    case Local:
        return LocalCopyText(localCopyOf(d->code));
    default:
        return {};
    }
}

QVariant LibraryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section >= 0 && section < ColumnCount ? QString::fromUtf16(kHeaders[section]) : QVariant();
}

} // namespace velda
