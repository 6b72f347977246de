#pragma once

#include "library/LibraryStore.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QHash>
#include <QStringList>

#include <functional>
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

    // Rows with what the filter and sorting read, made once and on any thread: a large list is made
    // ready away from the window and only swapped in on it.
    struct Prepared {
        std::vector<ListedDrawing> rows;
        std::vector<QString> folded; // code and name, case-folded
        // Per column (but the local copy) each row's sort key: its place among the column's values,
        // equal values sharing one; the dates as day numbers (0: unreadable).
        std::vector<int> keys[ColumnCount];
        std::vector<int> byCode; // the rows in code order
    };
    static Prepared prepare(std::vector<ListedDrawing> rows);

    explicit LibraryListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Who is asking (for 我出库的) and which day it is (for 最近入库).
    void setViewer(const QString& account, const QDate& today);
    void setRows(std::vector<ListedDrawing> rows) { setPrepared(prepare(std::move(rows))); }
    void setPrepared(Prepared prepared);
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

    // The drawing shown in that row, or nullptr.
    const ListedDrawing* drawingAt(int row) const;
    LocalCopy localCopyOf(const QString& code) const { return m_local.value(code, LocalCopy::None); }
    // The row showing the code, or -1.
    int rowOf(const QString& code) const;
    // Every drawing loaded, whatever the filter shows.
    int totalCount() const { return int(m_all.rows.size()); }
    QStringList volumes() const;

private:
    bool accepts(size_t row) const;
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

// A file's size as the list shows it: whole kilobytes, rounded up; empty when not known.
QString ListedSizeText(qint64 bytes);

} // namespace velda
