#pragma once

#include "library/LibraryRows.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <vector>

namespace velda {

class Database;

// One row of PDM出库图纸信息 with the volume of the drawing's library row beside it.
struct HoldRow {
    QString code;
    QString holder;      // 出库帐号
    QString since;       // 出库时间 as stored
    QString volume;      // empty when the drawing has no library row
    qint64 checkOut = 0; // as in rows::Holder
};

// A drawing as the library list shows it: its row, the part record's name, its hold.
struct ListedDrawing {
    QString code, name, state;
    QString holder, since;        // 出库帐号, 出库时间; empty when nobody holds it
    QString checkInBy, checkInAt; // 入库帐号, 入库时间
    QString volume, storedName;   // 目录名称, 入库文件名称
    qint64 size = -1;             // of the current file, from its version row; -1 when not known
};

// A row of the log as a list following it reads it: its number, code and word.
struct LoggedRow {
    qint64 number = 0;
    QString code, word;
};

// A library row as a check-in writes it; its state is always 正常.
struct CheckInRow {
    QString code, read, write, del, change;
    QString account, date, storedName, volume; // 入库帐号, 入库时间, 入库文件名称, 目录名称
    QVariantList values() const;
};

// Every statement on the library tables, PDM入库图纸信息 (a drawing's rights, state and stored file) and
// PDM出库图纸信息 (who holds it): the commands, lists and checks read and write them only through here,
// so that a change to how a row is kept is made in one place. Methods over many codes take any number
// of them, in slices. Throws velda::Error as Database does. The log rows that go with the writes are
// core/ActivityLog's; the locks that order the writes are LibraryRows'.
class LibraryStore final {
public:
    explicit LibraryStore(Database& db) : m_db(db) {}

    // The drawing's row with the server of its volume (DrawingLibrary, CheckInSteps, Holds, ItemSearch).
    rows::StoredDrawing readDrawing(const QString& code) const;
    // The same for many codes; a code without a row is missing from the answer (Batch).
    QHash<QString, rows::StoredDrawing> readDrawings(const QStringList& codes) const;
    // Who holds the drawing, since when and under which check-out (DrawingLibrary, Holds, the command
    // line's show, ItemSearch).
    rows::Holder holderOf(const QString& code) const;
    // The same for many codes; a code nobody holds is missing from the answer (Batch).
    QHash<QString, rows::Holder> holdersOf(const QStringList& codes) const;
    // The codes whose rows name each of these stored names on the volume (Batch, VolumeCheck).
    QHash<QString, QStringList> codesOfFiles(const QString& volume, const QStringList& names) const;
    // Another code whose row names the same file on the same volume, or an empty text (DrawingLibrary,
    // CheckInSteps).
    QString otherCodeOfFile(const QString& code, const QString& volume, const QString& storedName) const;
    // Every stored name on the volume with the code whose row names it (VolumeCheck).
    QHash<QString, QString> filesOn(const QString& volume) const;

    enum class HoldOrder { ByCode, BySince };
    // Every hold, or only that holder's (Holds' list, by code; the command line's, by date).
    std::vector<HoldRow> holds(const QString& holder = {}, HoldOrder order = HoldOrder::ByCode) const;
    // The accounts that hold drawings, sorted (Holds).
    QStringList holders() const;
    // Every drawing of the library with its name, hold and size, in one statement (the library list);
    // with a count, only that many, the first by code (the list's first page).
    std::vector<ListedDrawing> listing(int firstByCode = 0) const;
    // The same for these codes alone; a code without a library row is missing from the answer.
    std::vector<ListedDrawing> listingOf(const QStringList& codes) const;
    // The log's rows numbered from this number on, in number order.
    std::vector<LoggedRow> logRowsFrom(qint64 first) const;
    // The number of the log's last row, 0 for an empty log: every command that changes the library
    // writes one, so a new number tells a list that another client changed something.
    qint64 lastLogNumber() const;
    // The drawing's last log rows, newest first: account, time and word of each (the library list).
    std::vector<QStringList> recentLog(const QString& code, int count) const;
    // Whether neither table has a row (DemoOffice).
    bool isEmpty() const;

    // A check-in's row, new or over the row there (CheckInSteps::record; the manual's sample).
    void insertCheckIn(const CheckInRow& row);
    void replaceCheckIn(const CheckInRow& row);
    // The same for many rows in a few statements (Batch's recordTogether).
    void insertCheckIns(const QList<CheckInRow>& rows);
    void replaceCheckIns(const QList<CheckInRow>& rows);
    // Ends the account's hold of the code, if it has one (CheckInSteps::record), or of each of the codes
    // (Batch's recordTogether).
    void dropHold(const QString& code, const QString& account);
    void dropHolds(const QString& account, const QStringList& codes);
    // The drawing goes out to the account on that date: state 出库 and the hold row (DrawingLibrary's
    // CheckOut, Batch file by file; the manual's sample), or the same for many codes (Batch together).
    void markCheckedOut(const QString& code, const QString& account, const QString& date);
    void markAllCheckedOut(const QStringList& codes, const QString& account, const QString& date);
    // Ends exactly this hold without a check-in and puts the row back to 正常; false when no such hold
    // was there (Holds::Release).
    bool releaseHold(const QString& code, const QString& holder, const QString& since);
    // The drawing's row goes (DrawingLibrary::Delete).
    void deleteDrawing(const QString& code);

private:
    Database& m_db;
};

} // namespace velda
