#include "library/WorkingFolder.h"

#include "accounts/Acl.h"
#include "core/Configuration.h"
#include "core/Session.h"
#include "library/Batch.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "transfer/Sha256.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace velda {

namespace {
const QString kFolderValue = QStringLiteral("工作文件夹");
const QString kManifest = QStringLiteral(".VELDA副本记录.ini");
const QString kCode = QStringLiteral("代号");
const QString kCheckIn = QStringLiteral("入库序号");
const QString kSize = QStringLiteral("大小");
const QString kTime = QStringLiteral("修改时间");
const QString kHash = QStringLiteral("SHA256");

qint64 ModifiedMs(const QFileInfo& info) { return info.lastModified().toMSecsSinceEpoch(); }
} // namespace

QString WorkingFolderText::CannotUse(const QString& folder) {
    return QStringLiteral("工作文件夹%1不存在或不可写入，请另选一个工作文件夹！").arg(folder);
}

QString WorkingFolder::defaultPath() { return QDir::homePath() + QStringLiteral("/VELDA工作区"); }

QString WorkingFolder::of(const Configuration& config, const QString& account) {
    const QString chosen = config.ReadAccountValue(account, kFolderValue);
    return chosen.isEmpty() ? defaultPath() : chosen;
}

bool WorkingFolder::choose(const Configuration& config, const QString& account, const QString& folder) {
    return config.StoreAccountValue(account, kFolderValue, folder);
}

QString WorkingFolder::manifestPath() const { return m_path + QLatin1Char('/') + kManifest; }

QString WorkingFolder::prepare() const {
    const QFileInfo info(m_path);
    if (m_path.isEmpty() || !info.isAbsolute() || (!info.exists() && !QDir().mkpath(m_path)))
        return WorkingFolderText::CannotUse(m_path);
    // The permission bits do not tell everything (a read-only mount): try to write.
    QFile probe(m_path + QStringLiteral("/.VELDA写入检查"));
    if (!probe.open(QIODevice::WriteOnly))
        return WorkingFolderText::CannotUse(m_path);
    probe.close();
    probe.remove();
    return {};
}

std::optional<QString> WorkingFolder::fileFor(const QString& code) const { return BatchTargetFile(m_path, code); }

void WorkingFolder::record(const QString& code, const QString& file, qint64 checkIn) const {
    const QFileInfo info(file);
    QSettings manifest(manifestPath(), QSettings::IniFormat);
    manifest.beginGroup(info.fileName());
    manifest.setValue(kCode, code);
    manifest.setValue(kCheckIn, checkIn);
    manifest.setValue(kSize, info.size());
    manifest.setValue(kTime, ModifiedMs(info));
    manifest.setValue(kHash, QString::fromLatin1(Sha256::ofFile(file)));
    manifest.endGroup();
}

QHash<QString, LocalCopy>
WorkingFolder::copies(const std::function<QHash<QString, qint64>(const QStringList& codes)>& lastCheckIns,
                      const std::function<bool(const QString& code)>& checkedInByMe) const {
    struct Found {
        QString code;
        LocalCopy copy;
        qint64 checkIn;
        QString file;
    };
    QList<Found> found;
    QSettings manifest(manifestPath(), QSettings::IniFormat);
    const QFileInfoList files =
        QDir(m_path).entryInfoList({QStringLiteral("*.dwg"), QStringLiteral("*.DWG")}, QDir::Files, QDir::Name);
    for (const QFileInfo& info : files) {
        manifest.beginGroup(info.fileName());
        const QString code = manifest.value(kCode).toString();
        if (code.isEmpty()) {
            // Put there by hand: the name says which drawing, nothing says which version.
            found.append({DrawingCodeFromPath(info.fileName()), LocalCopy::Unrecorded, 0, info.filePath()});
        } else {
            bool same = info.size() == manifest.value(kSize).toLongLong();
            // Only a file touched since it was fetched is read through to be sure.
            if (same && ModifiedMs(info) != manifest.value(kTime).toLongLong())
                same = Sha256::ofFile(info.filePath()) == manifest.value(kHash).toString().toLatin1();
            found.append({code, same ? LocalCopy::Same : LocalCopy::Changed, manifest.value(kCheckIn).toLongLong(),
                          info.filePath()});
        }
        manifest.endGroup();
    }
    QStringList codes;
    for (const Found& f : found)
        if (f.copy == LocalCopy::Same || f.copy == LocalCopy::Changed)
            codes << f.code;
    const QHash<QString, qint64> current = codes.isEmpty() ? QHash<QString, qint64>() : lastCheckIns(codes);
    QHash<QString, LocalCopy> copies;
    for (const Found& f : found) {
        LocalCopy copy = f.copy;
        const qint64 now = current.value(f.code, f.checkIn);
        if (copy == LocalCopy::Same && now > f.checkIn) {
            copy = LocalCopy::Older;
        } else if (copy == LocalCopy::Changed && now > f.checkIn && checkedInByMe && checkedInByMe(f.code)) {
            record(f.code, f.file, now);
            copy = LocalCopy::Same;
        }
        copies.insert(f.code, copy);
    }
    return copies;
}

Outcome FetchCopy(Session& session, const TransferRunner& run, const QString& code, const QString& localPath) {
    if (code.isEmpty() || localPath.isEmpty())
        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
    try {
        if (const Outcome recovered = DrawingLibrary(session, run).Recover(code); !recovered.done())
            return recovered;
        const rows::StoredDrawing d = LibraryStore(session.db()).readDrawing(code);
        if (!d.exists || !d.volumeKnown)
            return Outcome::refusal(LibraryText::NotInLibrary);
        if (!Acl::Grants(d.read, session.ctx))
            return Outcome::refusal(LibraryText::NoRight);
        const QString url = VolumeUrl(session.ctx.AdminPassword, d.server);
        const QString remote = d.remotePath();
        const TransferResult got =
            run([&](FtpClient& c, const TransferProgress& p) { return c.Get(url, remote, localPath, p); });
        if (!got)
            return Outcome::failure(got.message);
        QFile::setPermissions(localPath, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        return Outcome::success();
    } catch (const Error& e) {
        return Outcome::failure(e.description());
    }
}

} // namespace velda
