#include "library/Batch.h"

#include "library/Acl.h"
#include "core/Session.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace velda {

QString DrawingCodeFromPath(const QString& path) {
    QString name = path;
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QDir::separator()));
    if (slash >= 0)
        name = name.mid(slash + 1);
    const qsizetype dwg = name.toUpper().indexOf(QStringLiteral(".DWG"));
    return dwg >= 0 ? name.left(dwg) : name;
}

bool IsUsableFolder(const QString& path) {
    const QFileInfo info(path);
    return !path.isEmpty() && QDir::isAbsolutePath(path) && info.isDir();
}

std::optional<QString> BatchTargetFile(const QString& folder, const QString& code) {
    QString name;
    name.reserve(code.size() + 4);
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c.isHighSurrogate() && i + 1 < code.size() && code[i + 1].isLowSurrogate()) {
            name += c;
            name += code[++i];
        } else if (c == u'/') {
            name += u'-';
        } else if (c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate()) {
            name += u'_'; // a separator on the system's platform, or nothing a file name can hold
        } else {
            name += c;
        }
    }
    // A code of nothing but dots would name the folder itself or its parent.
    if (name.isEmpty() || name.count(u'.') == name.size())
        return std::nullopt;
    name += QStringLiteral(".dwg");
    if (name.toUtf8().size() > 255)
        return std::nullopt;
    const QString sep = QStringLiteral("/");
    const QString path = (folder.endsWith(sep) ? folder : folder + sep) + name;
    // Whatever the name, the file lies directly in the chosen folder.
    if (QFileInfo(path).absoluteDir() != QDir(folder))
        return std::nullopt;
    return path;
}

void FindAllFile(const QString& folder, bool withSubFolders, QStringList& list, const std::function<bool()>& keepAlive) {
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    int seen = 0;
    auto alive = [&] { return !keepAlive || (++seen % 64) != 0 || keepAlive(); };
    {
        QDirIterator files(path, {QStringLiteral("*.dwg")},
                           QDir::Files | QDir::Hidden | QDir::System);
        while (files.hasNext()) {
            files.next();
            if (!files.fileInfo().isFile())
                continue;
            list << path + files.fileName();
            if (!alive())
                return;
        }
    }
    if (!withSubFolders)
        return;
    QStringList subFolders;
    {
        QDirIterator dirs(path, QDir::Dirs | QDir::NoDotAndDotDot);
        while (dirs.hasNext()) {
            dirs.next();
            if (dirs.fileInfo().isSymLink())
                continue; // a link back up the tree would never end
            subFolders << path + dirs.fileName();
            if (!alive())
                return;
        }
    }
    for (const QString& sub : subFolders)
        FindAllFile(sub, true, list, keepAlive);
}

namespace BatchText {
QString CheckInSummary(const BatchProgress& p) {
    QString s = QStringLiteral("入库完成，共需入库图纸%1张，有效入库图纸为：%2张！").arg(p.total).arg(p.total - p.rejected);
    if (!p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法入库");
    return s;
}
QString CheckOutSummary(const BatchProgress& p) {
    QString s = QStringLiteral("出库完成，共需出库图纸%1张，有效出库数量为：%2张！").arg(p.total).arg(p.total - p.rejected);
    if (!p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法出库");
    return s;
}
} // namespace BatchText

BatchLibrary::BatchLibrary(Session& session, TransferRunner runner)
    : m_session(session), m_single(session, std::move(runner)) {}

namespace {
// Who runs the batch: a new login while it waits must not carry its remaining files over to
// another user or volume.
QString identity(const UserContext& ctx) {
    return ctx.UserId + u'\n' + ctx.LoginGroup + u'\n' + ctx.VolumeName + u'\n' + ctx.VolumeServerIp;
}

BatchResult accountChanged(BatchResult r, const QString& doneWord) {
    r.failed = true;
    r.icon = Icon::Stop;
    r.message = QStringLiteral("登录帐号已变更，批处理已中止。此前已%1%2张。").arg(doneWord).arg(r.progress.processed);
    return r;
}

BatchResult stoppedOrFailed(BatchResult r, const QString& what, const QString& path, const Outcome& out,
                            const QString& doneWord) {
    r.failed = true;
    r.icon = Icon::Stop;
    r.message = QStringLiteral("%1<%2>失败：%3\r\n此前已%4%5张，批处理已中止。")
                    .arg(what, path, out.text, doneWord)
                    .arg(r.progress.processed);
    return r;
}
} // namespace

BatchResult BatchLibrary::CheckIn(const QStringList& files, const Step& step) {
    BatchResult r;
    r.progress.total = static_cast<int>(files.size());
    UserContext& ctx = m_session.ctx;
    const QString who = identity(ctx);
    for (int i = 0; i < files.size(); ++i) {
        if (identity(ctx) != who)
            return accountChanged(r, QStringLiteral("入库图纸"));
        const QString& path = files[i];
        const QString code = DrawingCodeFromPath(path);
        const DrawingLibrary::Choice choice = m_single.PrepareCheckIn(code);
        Outcome out;
        if (!choice.refusal.done()) {
            out = choice.refusal;
        } else {
            // Stored drawings keep their lists; new ones take what the user composed, if anything.
            if (!choice.existing && m_composed.size() == 4)
                Acl::SetPending(ctx, m_composed[0], m_composed[1], m_composed[2], m_composed[3]);
            out = m_single.CheckIn(code, path);
        }
        if (out.failed())
            return stoppedOrFailed(r, QStringLiteral("图纸文件入库"), path, out, QStringLiteral("入库图纸"));
        if (!out.done()) {
            ++r.progress.rejected;
            r.progress.rejectedCodes += code + QLatin1Char('&');
        }
        ++r.progress.processed;
        if (step && !step(i, r.progress) && i + 1 < files.size()) {
            r.stopped = true;
            r.message = QStringLiteral("入库已停止：共需入库图纸%1张，已处理%2张，有效入库图纸为：%3张！")
                            .arg(r.progress.total)
                            .arg(r.progress.processed)
                            .arg(r.progress.processed - r.progress.rejected);
            if (!r.progress.rejectedCodes.isEmpty())
                r.message += QStringLiteral("\r\n图纸") + r.progress.rejectedCodes.chopped(1) +
                             QStringLiteral("因权限问题无法入库");
            return r;
        }
    }
    r.message = BatchText::CheckInSummary(r.progress);
    return r;
}

BatchResult BatchLibrary::CheckOut(const QStringList& codes, const QString& folder, const Step& step) {
    BatchResult r;
    r.progress.total = static_cast<int>(codes.size());
    const QString who = identity(m_session.ctx);
    for (int i = 0; i < codes.size(); ++i) {
        if (identity(m_session.ctx) != who)
            return accountChanged(r, QStringLiteral("出库图纸"));
        const QString& code = codes[i];
        // A code that cannot name a file in the folder is refused like one the user may not read.
        const std::optional<QString> target = BatchTargetFile(folder, code);
        const Outcome out = target ? m_single.CheckOut(code, *target) : Outcome::refusal(code);
        if (out.failed())
            return stoppedOrFailed(r, QStringLiteral("图纸出库"), code, out, QStringLiteral("出库图纸"));
        if (!out.done()) {
            ++r.progress.rejected;
            r.progress.rejectedCodes += code + QLatin1Char('&');
        }
        ++r.progress.processed;
        if (step && !step(i, r.progress) && i + 1 < codes.size()) {
            r.stopped = true;
            r.message = QStringLiteral("出库已停止：共需出库图纸%1张，已处理%2张，有效出库数量为：%3张！")
                            .arg(r.progress.total)
                            .arg(r.progress.processed)
                            .arg(r.progress.processed - r.progress.rejected);
            return r;
        }
    }
    r.message = BatchText::CheckOutSummary(r.progress);
    return r;
}

} // namespace velda
