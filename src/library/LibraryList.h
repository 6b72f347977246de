#pragma once

#include "library/LibraryStore.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QHash>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace velda {

// What the working folder holds of a drawing, beside what the library holds.
enum class LocalCopy {
    None,      // no copy
    Same,      // the version the library holds, unchanged
    Changed,   // edited since it was fetched (size or SHA-256 differs)
    Older,     // unchanged, but the library has a newer check-in
    Unrecorded // a file of the drawing's name that the program did not fetch
};
QString LocalCopyText(LocalCopy copy);

// The drawings of the library as the main window lists them: a quick filter on code and name, a scope,
// sorting by any column. Filtering, sorting and new rows from the database keep the rows a view has
// selected and its current row (they move with their codes), so a refresh from another client's
// change, or the rest of a list whose first page was shown, never takes the user's place away.
class LibraryListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Code, Name, State, Holder, Since, CheckInBy, CheckInAt, Volume, Size, Local, ColumnCount };
    enum class Scope { All, MineOut, Out, Recent, Volume };
    static constexpr int kRecentDays = 7;
    // The columns whose few distinct texts each row names by number.
    static constexpr Column kPooled[] = {State, Holder, Since, CheckInBy, CheckInAt, Volume};
    static constexpr int kPooledCount = 6;

    // The texts of one pooled column: each distinct one once, with its sort key.
    struct Pool {
        std::vector<QString> values;
        QHash<QString, quint32> ids;
        std::vector<int> keys; // per value: its place among the values; for dates the day number
        quint32 idOf(const QString& value);
    };
    // One drawing as the list keeps it: a large library holds hundreds of thousands.
    struct Row {
        QString code, name, storedName;
        qint64 size = -1;
        quint32 text[kPooledCount] = {}; // ids in the pools, in kPooled's order
    };
    // Rows with what the filter and sorting read, made once and on any thread: a large list is made
    // ready away from the window and only swapped in on it.
    struct Prepared {
        std::vector<Row> rows; // a drawing gone from the library leaves an empty code behind
        // Each row's code and name, case-folded, side by side: a keystroke reads them alone.
        std::vector<QString> folded;
        Pool pools[kPooledCount];
        // Each row's sort key in the code, name and size columns: its place among the column's values,
        // equal values sharing one, with room left between neighbours for values that come later.
        std::vector<int> codeKeys, nameKeys, sizeKeys;
        std::vector<int> byCode; // the rows still listed, in code order
    };
    static Prepared prepare(std::vector<ListedDrawing> rows);

    explicit LibraryListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Who is asking (for 我出库的) and which day it is (for 最近入库).
    void setViewer(const QString& account, const QDate& today);
    void setRows(std::vector<ListedDrawing> rows) { setPrepared(prepare(std::move(rows))); }
    void setPrepared(Prepared prepared);
    // The codes' rows as the library holds them now: those found replace or join the list's, the
    // others leave it; the rest of the list stays as it is.
    void update(const QStringList& codes, const std::vector<ListedDrawing>& found);
    void setLocalCopies(QHash<QString, LocalCopy> copies);
    // Plain text, matched anywhere in the code or the name, letter case ignored.
    void setFilter(const QString& text);
    void setScope(Scope scope, const QString& volume = {});
    // Pictures for the state column (icons, given by the window).
    void setStateDecorations(const QVariant& normal, const QVariant& out);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The drawing shown in that row, if any.
    std::optional<ListedDrawing> drawingAt(int row) const;
    LocalCopy localCopyOf(const QString& code) const { return m_local.value(code, LocalCopy::None); }
    // The row showing the code, or -1.
    int rowOf(const QString& code) const;
    // Every drawing loaded, whatever the filter shows.
    int totalCount() const { return int(m_all.byCode.size()); }
    QStringList volumes() const;

private:
    bool accepts(size_t row) const;
    const QString& text(size_t row, int pooled) const;
    // Rebuilds the shown rows (filter, then order) inside one layout change that keeps the persistent
    // indexes of the rows still shown; change, when given, alters the rows in between.
    // resort: the order of all rows changed too (new rows, another column), not only the filter.
    // narrowing: the filter only grew, so the rows it keeps are among those shown.
    void relayout(const std::function<void()>& change = {}, bool resort = false, bool narrowing = false);
    void sortAll();

    Prepared m_all;
    std::vector<int> m_sorted; // every row in the chosen order; the filter keeps a part of it
    std::vector<int> m_shown;  // indexes into m_all.rows, in the shown order
    QHash<QString, LocalCopy> m_local;
    QString m_filter;
    Scope m_scope = Scope::All;
    QString m_volume;
    QString m_account;
    QDate m_today;
    int m_sortColumn = Code;
    Qt::SortOrder m_order = Qt::AscendingOrder;
    QVariant m_normalIcon, m_outIcon;
};

// What new log rows tell a list: the drawings to read again, or that it must read everything again
// (a row of a kind that may change many drawings, or none it knows).
struct ListChanges {
    bool whole = false;
    QStringList codes;
};
ListChanges ChangesOf(const std::vector<LoggedRow>& rows);

// Follows the log for a list: which rows are new since it last looked. A check-in takes its row's
// number before its upload and writes the row at its commit, so a row may come in after rows numbered
// above it: a number skipped is asked for again until it comes or is long past.
class LogFollower {
public:
    // How far below the newest number a whole read looks for numbers not yet written, and how long a
    // skipped number is waited for (longer than an upload of a large drawing over a slow link).
    static constexpr qint64 kLookBack = 1000;
    static constexpr qint64 kWaitMs = 15 * 60 * 1000;
    static constexpr size_t kMostAwaited = 5000;

    // Before a whole read: the log's newest number then and the numbers of the rows from
    // last - kLookBack on (logRowsFrom); any below it not among them may yet be written.
    void restart(qint64 last, const std::vector<LoggedRow>& near, qint64 nowMs);
    qint64 last() const { return m_last; }
    // The first number to read the log from (logRowsFrom).
    qint64 readFrom() const { return m_awaited.empty() ? m_last + 1 : m_awaited.begin()->first; }
    // The rows read from readFrom(): the new ones are taken, and what they change is answered. More
    // numbers skipped than the follower can wait for are answered as a change of everything.
    ListChanges take(const std::vector<LoggedRow>& rows, qint64 nowMs);
    size_t awaited() const { return m_awaited.size(); }

private:
    void await(qint64 from, qint64 to, qint64 nowMs, const std::vector<LoggedRow>& rows);
    qint64 m_last = 0;
    std::map<qint64, qint64> m_awaited; // number -> when it was found missing
};

// A file's size as the list shows it: whole kilobytes, rounded up; empty when not known.
QString ListedSizeText(qint64 bytes);

} // namespace velda
