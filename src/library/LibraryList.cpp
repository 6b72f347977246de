#include "library/LibraryList.h"

#include "library/LibraryRows.h"

#include <QLocale>
#include <QSet>

#include <algorithm>

namespace velda {

namespace {
constexpr const char16_t* kHeaders[LibraryListModel::ColumnCount] = {
    u"代号",       u"名称",         u"状态",     u"出库人", u"出库时间",
    u"最后入库人", u"最后入库时间", u"存储目录", u"大小",   u"本地副本"};

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

LibraryListModel::Prepared LibraryListModel::prepare(std::vector<ListedDrawing> rows) {
    Prepared p;
    const size_t n = rows.size();
    p.folded.resize(n);
    for (size_t i = 0; i < n; ++i)
        p.folded[i] = rows[i].code.toCaseFolded() + u'\n' + rows[i].name.toCaseFolded();
    // A text column's keys: each distinct value compared once, not once per comparison of a sort.
    const auto rankTexts = [&rows, n](const QString ListedDrawing::*field) {
        QHash<QString, int> ids;
        std::vector<int> keys(n);
        for (size_t i = 0; i < n; ++i) {
            auto it = ids.constFind(rows[i].*field);
            if (it == ids.cend())
                it = ids.insert(rows[i].*field, int(ids.size()));
            keys[i] = it.value();
        }
        std::vector<const QString*> values(size_t(ids.size()));
        for (auto it = ids.cbegin(); it != ids.cend(); ++it)
            values[size_t(it.value())] = &it.key();
        std::vector<int> order(values.size());
        for (size_t k = 0; k < order.size(); ++k)
            order[k] = int(k);
        std::sort(order.begin(), order.end(), [&values](int a, int b) {
            return QtPrivate::compareStrings(*values[size_t(a)], *values[size_t(b)]) < 0;
        });
        std::vector<int> place(values.size());
        for (size_t r = 0; r < order.size(); ++r)
            place[size_t(order[r])] = int(r);
        for (int& k : keys)
            k = place[size_t(k)];
        return keys;
    };
    p.keys[Code] = rankTexts(&ListedDrawing::code);
    p.keys[Name] = rankTexts(&ListedDrawing::name);
    p.keys[State] = rankTexts(&ListedDrawing::state);
    p.keys[Holder] = rankTexts(&ListedDrawing::holder);
    p.keys[CheckInBy] = rankTexts(&ListedDrawing::checkInBy);
    p.keys[Volume] = rankTexts(&ListedDrawing::volume);
    p.keys[Since].resize(n);
    p.keys[CheckInAt].resize(n);
    std::vector<qint64> sizes(n);
    for (size_t i = 0; i < n; ++i) {
        p.keys[Since][i] = int(DayNumber(rows[i].since));
        p.keys[CheckInAt][i] = int(DayNumber(rows[i].checkInAt));
        sizes[i] = rows[i].size;
    }
    std::vector<qint64> distinct = sizes;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    p.keys[Size].resize(n);
    for (size_t i = 0; i < n; ++i)
        p.keys[Size][i] = int(std::lower_bound(distinct.begin(), distinct.end(), sizes[i]) - distinct.begin());
    // Codes are unique: their keys are the code order itself.
    p.byCode.resize(n);
    for (size_t i = 0; i < n; ++i)
        p.byCode[size_t(p.keys[Code][i])] = int(i);
    p.rows = std::move(rows);
    return p;
}

void LibraryListModel::setViewer(const QString& account, const QDate& today) {
    m_account = account;
    m_today = today;
    if (m_scope == Scope::MineOut || m_scope == Scope::Recent)
        relayout();
}

void LibraryListModel::setPrepared(Prepared prepared) {
    relayout([&] { m_all = std::move(prepared); }, true);
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
    // Typing on: each key looks at the rows the last one left, not at the whole library.
    const bool narrowing = text.toCaseFolded().contains(m_filter.toCaseFolded());
    m_filter = text;
    relayout({}, false, narrowing);
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

bool LibraryListModel::accepts(size_t row) const {
    const ListedDrawing& d = m_all.rows[row];
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
        const qint64 day = m_all.keys[CheckInAt][row];
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
    const size_t n = m_all.rows.size();
    m_sorted.resize(n);
    const bool ascending = m_order == Qt::AscendingOrder;
    if (m_sortColumn == Code || m_sortColumn < 0 || m_sortColumn >= ColumnCount) {
        if (ascending)
            std::copy(m_all.byCode.begin(), m_all.byCode.end(), m_sorted.begin());
        else
            std::copy(m_all.byCode.rbegin(), m_all.byCode.rend(), m_sorted.begin());
        return;
    }
    // One number per row: the column's key above, the code's place below, so ties go by the code
    // and the sort compares integers only.
    const std::vector<int>& codeKeys = m_all.keys[Code];
    std::vector<quint64> order(n);
    for (size_t i = 0; i < n; ++i) {
        const qint64 key =
            m_sortColumn == Local ? qint64(localCopyOf(m_all.rows[i].code)) : qint64(m_all.keys[m_sortColumn][i]);
        const quint64 high = quint64(ascending ? key : 0x7fffffff - key);
        order[i] = high << 32 | quint32(codeKeys[i]);
    }
    std::sort(order.begin(), order.end());
    for (size_t r = 0; r < n; ++r)
        m_sorted[r] = m_all.byCode[size_t(order[r] & 0xffffffffu)];
}

void LibraryListModel::relayout(const std::function<void()>& change, bool resort, bool narrowing) {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QStringList codes;
    codes.reserve(before.size());
    for (const QModelIndex& i : before)
        codes << (i.isValid() && size_t(i.row()) < m_shown.size() ? m_all.rows[size_t(m_shown[i.row()])].code
                                                                  : QString());
    if (change)
        change();

    if (resort || m_sorted.size() != m_all.rows.size())
        sortAll();
    // The filter keeps a part of the order already made: a keystroke never sorts.
    const QString folded = m_filter.toCaseFolded();
    const std::vector<int> from = narrowing && !resort && !change ? std::move(m_shown) : std::vector<int>();
    const std::vector<int>& rows = narrowing && !resort && !change ? from : m_sorted;
    m_shown.clear();
    m_shown.reserve(rows.size());
    for (const int i : rows)
        if ((folded.isEmpty() || m_all.folded[size_t(i)].contains(folded)) && accepts(size_t(i)))
            m_shown.push_back(i);

    if (!before.isEmpty()) {
        const QSet<QString> wanted(codes.begin(), codes.end());
        QHash<QString, int> at;
        for (size_t r = 0; r < m_shown.size() && at.size() < wanted.size(); ++r) {
            const QString& code = m_all.rows[size_t(m_shown[r])].code;
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
    return row >= 0 && size_t(row) < m_shown.size() ? &m_all.rows[size_t(m_shown[size_t(row)])] : nullptr;
}

int LibraryListModel::rowOf(const QString& code) const {
    for (size_t r = 0; r < m_shown.size(); ++r)
        if (m_all.rows[size_t(m_shown[r])].code == code)
            return int(r);
    return -1;
}

QStringList LibraryListModel::volumes() const {
    QSet<QString> seen;
    for (const ListedDrawing& d : m_all.rows)
        seen.insert(d.volume);
    QStringList list(seen.begin(), seen.end());
    list.sort();
    return list;
}

QString ListedSizeText(qint64 bytes) {
    if (bytes < 0)
        return {};
    return QLocale().toString((bytes + 1023) / 1024) + QStringLiteral(" KB");
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    const ListedDrawing* d = drawingAt(index.row());
    if (!d || !index.isValid())
        return {};
    if (role == Qt::DecorationRole && index.column() == State)
        return d->state == rows::kOut ? m_outIcon : m_normalIcon;
    if (role == Qt::TextAlignmentRole && index.column() == Size)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
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
    case Size:
        return ListedSizeText(d->size);
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
