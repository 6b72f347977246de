#include "library/LibraryList.h"

#include "core/ActivityLog.h"
#include "library/Holds.h"
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

namespace {
constexpr int PooledAt(int column) {
    for (int k = 0; k < LibraryListModel::kPooledCount; ++k)
        if (LibraryListModel::kPooled[k] == column)
            return k;
    return -1;
}
constexpr int kStateAt = PooledAt(LibraryListModel::State), kHolderAt = PooledAt(LibraryListModel::Holder),
              kCheckInAtAt = PooledAt(LibraryListModel::CheckInAt), kVolumeAt = PooledAt(LibraryListModel::Volume);

// The highest sort key: sorting packs a key and the code's place into one 64-bit number.
constexpr int kTopKey = 0x7ffffff0;

// Keys for n values in the order compare (i, j) gives them (< 0, 0, > 0): equal values share one, and
// neighbours lie as far apart as the room allows, so that a value read later finds a key between them.
// inOrder: the values are in that order already.
template <typename Compare> std::vector<int> SpacedKeys(size_t n, Compare compare, bool inOrder = false) {
    std::vector<int> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = int(i);
    if (!inOrder)
        std::sort(order.begin(), order.end(), [&compare](int a, int b) { return compare(size_t(a), size_t(b)) < 0; });
    size_t distinct = 0;
    for (size_t r = 0; r < n; ++r)
        if (r == 0 || compare(size_t(order[r - 1]), size_t(order[r])) != 0)
            ++distinct;
    const qint64 gap = std::max<qint64>(1, kTopKey / qint64(distinct + 1));
    std::vector<int> keys(n);
    qint64 rank = 0;
    for (size_t r = 0; r < n; ++r) {
        if (r > 0 && compare(size_t(order[r - 1]), size_t(order[r])) != 0)
            ++rank;
        keys[size_t(order[r])] = int(std::min<qint64>((rank + 1) * gap, kTopKey));
    }
    return keys;
}

int CompareSizes(qint64 a, qint64 b) { return a < b ? -1 : (a > b ? 1 : 0); }
} // namespace

quint32 LibraryListModel::Pool::idOf(const QString& value) {
    auto it = ids.constFind(value);
    if (it == ids.cend()) {
        it = ids.insert(value, quint32(values.size()));
        values.push_back(value);
    }
    return it.value();
}

namespace {
void RankPool(LibraryListModel::Pool& pool, bool dates) {
    pool.keys.resize(pool.values.size());
    if (dates) {
        for (size_t i = 0; i < pool.values.size(); ++i)
            pool.keys[i] = int(DayNumber(pool.values[i]));
        return;
    }
    pool.keys = SpacedKeys(pool.values.size(), [&pool](size_t a, size_t b) {
        return QtPrivate::compareStrings(pool.values[a], pool.values[b]);
    });
}

void Fill(LibraryListModel::Prepared& p, size_t at, const ListedDrawing& d) {
    LibraryListModel::Row& row = p.rows[at];
    row.name = d.name;
    row.storedName = d.storedName;
    p.folded[at] = d.code.toCaseFolded() + u'\n' + d.name.toCaseFolded();
    row.size = d.size;
    const QString* texts[] = {&d.state, &d.holder, &d.since, &d.checkInBy, &d.checkInAt, &d.volume};
    for (int k = 0; k < LibraryListModel::kPooledCount; ++k)
        row.text[k] = p.pools[k].idOf(*texts[k]);
}

void RankPools(LibraryListModel::Prepared& p) {
    for (int k = 0; k < LibraryListModel::kPooledCount; ++k)
        RankPool(p.pools[k], LibraryListModel::kPooled[k] == LibraryListModel::Since ||
                                 LibraryListModel::kPooled[k] == LibraryListModel::CheckInAt);
}

void KeyCodes(LibraryListModel::Prepared& p, bool inOrder = false) {
    p.codeKeys = SpacedKeys(
        p.rows.size(), [&p](size_t a, size_t b) { return QtPrivate::compareStrings(p.rows[a].code, p.rows[b].code); },
        inOrder);
}
void KeyNames(LibraryListModel::Prepared& p) {
    p.nameKeys = SpacedKeys(
        p.rows.size(), [&p](size_t a, size_t b) { return QtPrivate::compareStrings(p.rows[a].name, p.rows[b].name); });
}
void KeySizes(LibraryListModel::Prepared& p) {
    p.sizeKeys =
        SpacedKeys(p.rows.size(), [&p](size_t a, size_t b) { return CompareSizes(p.rows[a].size, p.rows[b].size); });
}

// A key for the row's value among those of the listed rows (compare(i): row i's value against it), or
// -1 when its neighbours left no room between them.
template <typename Compare>
int PlaceKey(const LibraryListModel::Prepared& p, const std::vector<int>& keys, size_t row, Compare compare) {
    int below = 0;
    int above = kTopKey + 1;
    for (const int i : p.byCode) {
        if (size_t(i) == row)
            continue;
        const int c = compare(size_t(i));
        if (c == 0)
            return keys[size_t(i)];
        if (c < 0)
            below = std::max(below, keys[size_t(i)]);
        else
            above = std::min(above, keys[size_t(i)]);
    }
    return above - below >= 2 ? below + (above - below) / 2 : -1;
}

// Keys for many changed rows at once (the others' stay): the changed values in order, merged with the
// others in key order, each run of new values spread over the gap it falls in. False when a gap has
// too little room: the column is then keyed again whole.
template <typename Compare> bool PlaceMany(const LibraryListModel::Prepared& p, std::vector<int>& keys,
                                           std::vector<size_t> changed, Compare compare) {
    std::vector<char> isChanged(p.rows.size(), 0);
    for (const size_t i : changed)
        isChanged[i] = 1;
    std::vector<int> others;
    others.reserve(p.byCode.size());
    for (const int i : p.byCode)
        if (!isChanged[size_t(i)])
            others.push_back(i);
    std::sort(others.begin(), others.end(), [&keys](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
    std::stable_sort(changed.begin(), changed.end(), [&compare](size_t a, size_t b) { return compare(a, b) < 0; });
    size_t j = 0;
    for (size_t a = 0; a < changed.size();) {
        while (j < others.size() && compare(size_t(others[j]), changed[a]) < 0)
            ++j;
        if (j < others.size() && compare(size_t(others[j]), changed[a]) == 0) {
            keys[changed[a++]] = keys[size_t(others[j])];
            continue;
        }
        size_t end = a;
        qint64 distinct = 0;
        for (; end < changed.size() && (j == others.size() || compare(size_t(others[j]), changed[end]) > 0); ++end)
            if (end == a || compare(changed[end - 1], changed[end]) != 0)
                ++distinct;
        const qint64 below = j > 0 ? keys[size_t(others[j - 1])] : 0;
        const qint64 above = j < others.size() ? keys[size_t(others[j])] : qint64(kTopKey) + 1;
        const qint64 step = (above - below) / (distinct + 1);
        if (step < 1)
            return false;
        qint64 rank = 0;
        for (size_t b = a; b < end; ++b) {
            if (b == a || compare(changed[b - 1], changed[b]) != 0)
                ++rank;
            keys[changed[b]] = int(below + rank * step);
        }
        a = end;
    }
    return true;
}

// Up to this many changed rows are each placed by a look at every other row.
constexpr qsizetype kPlacedOneByOne = 16;
} // namespace

LibraryListModel::Prepared LibraryListModel::prepare(std::vector<ListedDrawing> rows) {
    Prepared p;
    const size_t n = rows.size();
    // Kept in code order, the order a list first shows: a keystroke then reads the folded texts
    // where they lie one after the other.
    std::vector<size_t> byCode(n);
    for (size_t i = 0; i < n; ++i)
        byCode[i] = i;
    std::sort(byCode.begin(), byCode.end(),
              [&rows](size_t a, size_t b) { return QtPrivate::compareStrings(rows[a].code, rows[b].code) < 0; });
    p.rows.resize(n);
    p.folded.resize(n);
    for (size_t i = 0; i < n; ++i) {
        ListedDrawing& d = rows[byCode[i]];
        Fill(p, i, d);
        p.rows[i].code = std::move(d.code);
    }
    // The rows read are gone before the keys are made: the two never take room at once.
    std::vector<ListedDrawing>().swap(rows);
    RankPools(p);
    KeyCodes(p, true);
    KeyNames(p);
    KeySizes(p);
    p.byCode.resize(n);
    for (size_t i = 0; i < n; ++i)
        p.byCode[i] = int(i);
    return p;
}

void LibraryListModel::update(const QStringList& codes, const std::vector<ListedDrawing>& found) {
    if (codes.isEmpty())
        return;
    relayout(
        [&] {
            Prepared& p = m_all;
            QHash<QString, const ListedDrawing*> now;
            for (const ListedDrawing& d : found)
                now.insert(d.code, &d);
            const auto byCodeAt = [&p](const QString& code) {
                return std::lower_bound(p.byCode.begin(), p.byCode.end(), code, [&p](int i, const QString& c) {
                    return QtPrivate::compareStrings(p.rows[size_t(i)].code, c) < 0;
                });
            };
            const bool oneByOne = codes.size() <= kPlacedOneByOne;
            std::vector<size_t> changed, added;
            for (const QString& code : codes) {
                const auto at = byCodeAt(code);
                const bool listed = at != p.byCode.end() && p.rows[size_t(*at)].code == code;
                const ListedDrawing* d = now.value(code);
                if (!d) {
                    if (listed) {
                        p.rows[size_t(*at)] = Row{};
                        p.folded[size_t(*at)].clear();
                        p.byCode.erase(at);
                    }
                    continue;
                }
                size_t row = listed ? size_t(*at) : p.rows.size();
                if (!listed) {
                    p.rows.emplace_back();
                    p.folded.emplace_back();
                    p.rows.back().code = d->code;
                    p.codeKeys.push_back(0);
                    p.nameKeys.push_back(0);
                    p.sizeKeys.push_back(0);
                    p.byCode.insert(at, int(row));
                }
                Fill(p, row, *d);
                if (!oneByOne) {
                    changed.push_back(row);
                    if (!listed)
                        added.push_back(row);
                    continue;
                }
                const auto place = [&p, row](std::vector<int>& keys, auto compare, void (*again)(Prepared&)) {
                    const int key = PlaceKey(p, keys, row, compare);
                    if (key >= 0)
                        keys[row] = key;
                    else
                        again(p);
                };
                if (!listed)
                    place(
                        p.codeKeys,
                        [&p, row](size_t i) { return QtPrivate::compareStrings(p.rows[i].code, p.rows[row].code); },
                        [](Prepared& q) { KeyCodes(q); });
                place(
                    p.nameKeys,
                    [&p, row](size_t i) { return QtPrivate::compareStrings(p.rows[i].name, p.rows[row].name); },
                    KeyNames);
                place(
                    p.sizeKeys, [&p, row](size_t i) { return CompareSizes(p.rows[i].size, p.rows[row].size); },
                    KeySizes);
            }
            if (!oneByOne) {
                const auto codeOrder = [&p](size_t a, size_t b) {
                    return QtPrivate::compareStrings(p.rows[a].code, p.rows[b].code);
                };
                if (!PlaceMany(p, p.codeKeys, added, codeOrder))
                    KeyCodes(p);
                if (!PlaceMany(p, p.nameKeys, changed, [&p](size_t a, size_t b) {
                        return QtPrivate::compareStrings(p.rows[a].name, p.rows[b].name);
                    }))
                    KeyNames(p);
                if (!PlaceMany(p, p.sizeKeys, changed,
                               [&p](size_t a, size_t b) { return CompareSizes(p.rows[a].size, p.rows[b].size); }))
                    KeySizes(p);
            }
            RankPools(p);
        },
        true);
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

const QString& LibraryListModel::text(size_t row, int pooled) const {
    return m_all.pools[pooled].values[m_all.rows[row].text[pooled]];
}

bool LibraryListModel::accepts(size_t row) const {
    switch (m_scope) {
    case Scope::All:
        break;
    case Scope::MineOut:
        if (text(row, kHolderAt).isEmpty() || text(row, kHolderAt) != m_account)
            return false;
        break;
    case Scope::Out:
        if (text(row, kHolderAt).isEmpty() && text(row, kStateAt) != rows::kOut)
            return false;
        break;
    case Scope::Recent: {
        const qint64 day = m_all.pools[kCheckInAtAt].keys[m_all.rows[row].text[kCheckInAtAt]];
        if (day == 0 || day < m_today.toJulianDay() - kRecentDays)
            return false;
        break;
    }
    case Scope::Volume:
        if (text(row, kVolumeAt) != m_volume)
            return false;
        break;
    }
    return true;
}

void LibraryListModel::sortAll() {
    const std::vector<int>& byCode = m_all.byCode;
    const size_t n = byCode.size();
    m_sorted.resize(n);
    const bool ascending = m_order == Qt::AscendingOrder;
    if (m_sortColumn == Code || m_sortColumn < 0 || m_sortColumn >= ColumnCount) {
        if (ascending)
            std::copy(byCode.begin(), byCode.end(), m_sorted.begin());
        else
            std::copy(byCode.rbegin(), byCode.rend(), m_sorted.begin());
        return;
    }
    // One number per row: the column's key above, the code's place below, so ties go by the code
    // and the sort compares integers only.
    const int pooled = PooledAt(m_sortColumn);
    std::vector<quint64> order(n);
    for (size_t at = 0; at < n; ++at) {
        const size_t i = size_t(byCode[at]);
        qint64 key = 0;
        if (m_sortColumn == Local)
            key = qint64(localCopyOf(m_all.rows[i].code));
        else if (m_sortColumn == Name)
            key = m_all.nameKeys[i];
        else if (m_sortColumn == Size)
            key = m_all.sizeKeys[i];
        else
            key = m_all.pools[pooled].keys[m_all.rows[i].text[pooled]];
        const quint64 high = quint64(ascending ? key : 0x7fffffff - key);
        order[at] = high << 32 | quint32(at);
    }
    std::sort(order.begin(), order.end());
    for (size_t r = 0; r < n; ++r)
        m_sorted[r] = byCode[size_t(order[r] & 0xffffffffu)];
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

    if (resort || m_sorted.size() != m_all.byCode.size())
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

std::optional<ListedDrawing> LibraryListModel::drawingAt(int row) const {
    if (row < 0 || size_t(row) >= m_shown.size())
        return std::nullopt;
    const size_t i = size_t(m_shown[size_t(row)]);
    const Row& r = m_all.rows[i];
    return ListedDrawing{r.code,       r.name,     text(i, kStateAt),     text(i, kHolderAt),
                         text(i, 2),   text(i, 3), text(i, kCheckInAtAt), text(i, kVolumeAt),
                         r.storedName, r.size};
}

int LibraryListModel::rowOf(const QString& code) const {
    for (size_t r = 0; r < m_shown.size(); ++r)
        if (m_all.rows[size_t(m_shown[r])].code == code)
            return int(r);
    return -1;
}

QStringList LibraryListModel::volumes() const {
    QSet<quint32> used;
    for (const int i : m_all.byCode)
        used.insert(m_all.rows[size_t(i)].text[kVolumeAt]);
    QStringList list;
    for (const quint32 id : used)
        list << m_all.pools[kVolumeAt].values[id];
    list.sort();
    return list;
}

QString ListedSizeText(qint64 bytes) {
    if (bytes < 0)
        return {};
    return QLocale().toString((bytes + 1023) / 1024) + QStringLiteral(" KB");
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= m_shown.size())
        return {};
    const size_t i = size_t(m_shown[size_t(index.row())]);
    const Row& r = m_all.rows[i];
    if (role == Qt::DecorationRole && index.column() == State)
        return text(i, kStateAt) == rows::kOut ? m_outIcon : m_normalIcon;
    if (role == Qt::TextAlignmentRole && index.column() == Size)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Code:
        return r.code;
    case Name:
        return r.name;
    case Size:
        return ListedSizeText(r.size);
    case Local:
        return LocalCopyText(localCopyOf(r.code));
    default: {
        const int pooled = PooledAt(index.column());
        return pooled < 0 ? QVariant() : QVariant(text(i, pooled));
    }
    }
}

QVariant LibraryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section >= 0 && section < ColumnCount ? QString::fromUtf16(kHeaders[section]) : QVariant();
}

} // namespace velda

namespace velda {

ListChanges ChangesOf(const std::vector<LoggedRow>& rows) {
    // Rows that name the one drawing they changed, and rows that change nothing the list shows.
    static const QSet<QString> kOneDrawing{LogWord::CheckIn, LogWord::CheckOut, LogWord::DeleteDrawing,
                                           LogWord::AddItemInfo, LogWord::DeleteItemInfo};
    static const QSet<QString> kNone{LogWord::Login,           LogWord::Logout,           LogWord::LoginFailed,
                                     LogWord::FetchVersion,    LogWord::BrowseItemInfo,   LogWord::AddBorrowed,
                                     LogWord::DeleteBorrowed,  LogWord::BrowseBorrowed,   LogWord::AddArchive,
                                     LogWord::EditArchive,     LogWord::DeleteArchive,    LogWord::BrowseArchive,
                                     LogWord::BrowseStructure, LogWord::ChangeGroupVolume};
    // A released hold's row names the drawing and its holder after it.
    const QString holderMark = HoldText::LogCode({}, {}).chopped(1);
    ListChanges changes;
    for (const LoggedRow& r : rows) {
        if (kOneDrawing.contains(r.word))
            changes.codes << r.code;
        else if (r.word == HoldText::LogRelease)
            changes.codes << r.code.left(r.code.lastIndexOf(holderMark));
        else if (!kNone.contains(r.word) && !(r.word.startsWith(QStringLiteral("输出")) && r.word.endsWith(u'表')))
            changes.whole = true;
    }
    changes.codes.removeDuplicates();
    return changes;
}

void LogFollower::restart(qint64 last, const std::vector<LoggedRow>& near, qint64 nowMs) {
    const qint64 from = std::max<qint64>(1, last - kLookBack + 1);
    m_awaited.erase(m_awaited.lower_bound(from), m_awaited.end());
    m_last = std::max<qint64>(last, 0);
    await(from, m_last, nowMs, near);
    while (m_awaited.size() > kMostAwaited)
        m_awaited.erase(m_awaited.begin());
}

void LogFollower::await(qint64 from, qint64 to, qint64 nowMs, const std::vector<LoggedRow>& rows) {
    qint64 next = from;
    for (const LoggedRow& r : rows) {
        if (r.number < from || r.number > to)
            continue;
        for (; next < r.number; ++next)
            m_awaited.emplace(next, nowMs);
        next = r.number + 1;
    }
    for (; next <= to; ++next)
        m_awaited.emplace(next, nowMs);
}

ListChanges LogFollower::take(const std::vector<LoggedRow>& rows, qint64 nowMs) {
    std::vector<LoggedRow> fresh;
    qint64 top = m_last;
    for (const LoggedRow& r : rows) {
        if (r.number > m_last) {
            fresh.push_back(r);
            top = std::max(top, r.number);
        } else if (m_awaited.erase(r.number)) {
            fresh.push_back(r);
        }
    }
    await(m_last + 1, top, nowMs, rows);
    m_last = top;
    for (auto it = m_awaited.begin(); it != m_awaited.end();)
        it = nowMs - it->second > kWaitMs ? m_awaited.erase(it) : std::next(it);
    ListChanges changes = ChangesOf(fresh);
    if (m_awaited.size() > kMostAwaited) {
        // Too many to wait for one by one: the list reads everything, and the oldest are let go.
        changes.whole = true;
        while (m_awaited.size() > kMostAwaited)
            m_awaited.erase(m_awaited.begin());
    }
    return changes;
}

} // namespace velda
