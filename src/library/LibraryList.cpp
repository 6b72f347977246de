#include "library/LibraryList.h"

#include "library/LibraryRows.h"

#include <QSet>

#include <algorithm>

namespace velda {

namespace {
constexpr const char16_t* kHeaders[LibraryListModel::ColumnCount] = {
    u"代号", u"名称", u"状态", u"出库人", u"出库时间", u"最后入库人", u"最后入库时间", u"存储目录", u"本地副本"};

// The library's dates are year/month/day without leading zeros; an unreadable one sorts first. Read
// by hand: a list of 100,000 drawings has 200,000 of them.
qint64 DayNumber(const QString& text) {
    int parts[3] = {0, 0, 0};
    int at = 0;
    for (const QChar c : text) {
        if (c == u'/') {
            if (++at > 2)
                return 0;
        } else if (c >= u'0' && c <= u'9' && parts[at] < 100000) {
            parts[at] = parts[at] * 10 + (c.unicode() - u'0');
        } else {
            return 0;
        }
    }
    const QDate d(parts[0], parts[1], parts[2]);
    return at == 2 && d.isValid() ? d.toJulianDay() : 0;
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
        return QStringLiteral("未经登记");
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
    relayout(
        [&] {
            m_rows = std::move(rows);
            const size_t n = m_rows.size();
            m_days.resize(n);
            m_folded.resize(n);
            for (size_t i = 0; i < n; ++i) {
                const ListedDrawing& d = m_rows[i];
                m_days[i] = {DayNumber(d.since), DayNumber(d.checkInAt)};
                m_folded[i] = d.code.toCaseFolded() + u'\n' + d.name.toCaseFolded();
            }
            std::vector<int> byCode(n);
            for (size_t i = 0; i < n; ++i)
                byCode[i] = int(i);
            std::sort(byCode.begin(), byCode.end(),
                      [this](int x, int y) { return m_rows[size_t(x)].code < m_rows[size_t(y)].code; });
            m_codeRank.resize(n);
            for (size_t r = 0; r < n; ++r)
                m_codeRank[size_t(byCode[r])] = int(r);
        },
        true);
}

void LibraryListModel::setLocalCopies(QHash<QString, LocalCopy> copies) {
    m_local = std::move(copies);
    if (m_sortColumn == Local) {
        relayout({}, true);
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
    return true;
}

void LibraryListModel::sortAll() {
    const size_t n = m_rows.size();
    m_sorted.resize(n);
    for (size_t i = 0; i < n; ++i)
        m_sorted[i] = int(i);
    // One key per row, compared as numbers or texts; ties go by the code.
    std::vector<qint64> numbers;
    const QString ListedDrawing::*text = nullptr;
    switch (m_sortColumn) {
    case Name:
        text = &ListedDrawing::name;
        break;
    case State:
        text = &ListedDrawing::state;
        break;
    case Holder:
        text = &ListedDrawing::holder;
        break;
    case CheckInBy:
        text = &ListedDrawing::checkInBy;
        break;
    case Volume:
        text = &ListedDrawing::volume;
        break;
    default:
        numbers.resize(n);
        for (size_t i = 0; i < n; ++i)
            numbers[i] = m_sortColumn == Since       ? m_days[i].since
                         : m_sortColumn == CheckInAt ? m_days[i].checkIn
                         : m_sortColumn == Local     ? qint64(localCopyOf(m_rows[i].code))
                                                     : m_codeRank[i];
    }
    const bool ascending = m_order == Qt::AscendingOrder;
    std::sort(m_sorted.begin(), m_sorted.end(), [&](int x, int y) {
        int c = 0;
        if (text) {
            c = QtPrivate::compareStrings(m_rows[size_t(x)].*text, m_rows[size_t(y)].*text);
        } else {
            const qint64 a = numbers[size_t(x)];
            const qint64 b = numbers[size_t(y)];
            c = a < b ? -1 : a > b ? 1 : 0;
        }
        if (c != 0)
            return ascending ? c < 0 : c > 0;
        return m_codeRank[size_t(x)] < m_codeRank[size_t(y)];
    });
}

void LibraryListModel::relayout(const std::function<void()>& change, bool resort) {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QStringList codes;
    codes.reserve(before.size());
    for (const QModelIndex& i : before)
        codes << (i.isValid() && size_t(i.row()) < m_shown.size() ? m_rows[size_t(m_shown[i.row()])].code : QString());
    if (change)
        change();

    if (resort || m_sorted.size() != m_rows.size())
        sortAll();
    // The filter keeps a part of the order already made: a keystroke never sorts.
    const QString folded = m_filter.toCaseFolded();
    m_shown.clear();
    m_shown.reserve(m_sorted.size());
    for (const int i : m_sorted)
        if ((folded.isEmpty() || m_folded[size_t(i)].contains(folded)) && accepts(m_rows[size_t(i)]))
            m_shown.push_back(i);

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
    relayout({}, true);
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
