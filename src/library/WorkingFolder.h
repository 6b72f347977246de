#pragma once

#include "core/Outcome.h"
#include "library/LibraryList.h"
#include "transfer/TransferRunner.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velda {

class Configuration;
class Session;

// The folder where an account's check-outs land and its copies are opened, kept per account on this
// machine, and what it knows of the copies it received: for each file the code, the check-in it came
// from, its size, time and SHA-256, in a hidden file inside the folder. From these it tells an
// unchanged copy from an edited one and from one the library has since replaced.
class WorkingFolder final {
public:
    // ~/VELDA工作区
    static QString defaultPath();
    // The account's folder on this machine, or the default when it chose none.
    static QString of(const Configuration& config, const QString& account);
    static bool choose(const Configuration& config, const QString& account, const QString& folder);

    explicit WorkingFolder(QString path) : m_path(std::move(path)) {}
    const QString& path() const { return m_path; }

    // Makes the folder when it is missing; why it cannot take files, or an empty text.
    QString prepare() const;
    // The file a drawing's copy is kept in (named as a batch check-out names it).
    std::optional<QString> fileFor(const QString& code) const;
    // Notes that the file now holds the version of the code whose check-in is numbered checkIn.
    void record(const QString& code, const QString& file, qint64 checkIn) const;
    // The copy the folder holds of each drawing that has one; lastCheckIns answers the library's
    // current check-in number of each code asked (codes without one are left out). An edited copy of a
    // drawing the user has checked in since (checkedInByMe) is what the library holds now: it counts as
    // unchanged from then on.
    QHash<QString, LocalCopy>
    copies(const std::function<QHash<QString, qint64>(const QStringList& codes)>& lastCheckIns,
           const std::function<bool(const QString& code)>& checkedInByMe = {}) const;

private:
    QString manifestPath() const;

    QString m_path;
};

// Brings the drawing's current version into localPath only to be looked at: the read right as a
// check-out asks it, but no hold and no log row; the copy is left read-only, so that nobody edits it
// believing it can go back.
Outcome FetchCopy(Session& session, const TransferRunner& run, const QString& code, const QString& localPath);

namespace WorkingFolderText {
QString CannotUse(const QString& folder);
} // namespace WorkingFolderText

} // namespace velda
