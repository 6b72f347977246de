#include "library/BatchGroups.h"

#include "core/Session.h"
#include "store/Database.h"

#include <algorithm>

namespace velda::batch {

QString identity(const UserContext& ctx) {
    return ctx.UserId + u'\n' + ctx.LoginGroup + u'\n' + ctx.VolumeName + u'\n' + ctx.VolumeServerIp;
}

int workerCount(const Session& session, int files) {
    return std::max(1, std::min(std::clamp(session.ftpOptions.connectionsPerServer, 1, 16), files));
}

void markFile(Database& db, int position) { db.exec(QStringLiteral("savepoint batch_file_%1").arg(position)); }
void undoFrom(Database& db, int position) {
    db.exec(QStringLiteral("rollback to savepoint batch_file_%1").arg(position));
}

BatchResult AccountChanged(BatchResult r, const QString& doneWord) {
    r.outcome = Outcome::failure(
        QStringLiteral("登录帐号已变更，批处理已中止。此前已%1%2张。").arg(doneWord).arg(r.progress.processed));
    return r;
}

BatchResult StoppedOrFailed(BatchResult r, const QString& what, const QString& path, const Outcome& out,
                            const QString& doneWord) {
    r.outcome = Outcome::failure(QStringLiteral("%1<%2>失败：%3\r\n此前已%4%5张，批处理已中止。")
                                     .arg(what, path, out.text, doneWord)
                                     .arg(r.progress.processed));
    return r;
}

QString StoppedText(const BatchProgress& p, bool in) {
    QString s = in ? QStringLiteral("入库已停止：共需入库图纸%1张，已处理%2张，有效入库图纸为：%3张！")
                   : QStringLiteral("出库已停止：共需出库图纸%1张，已处理%2张，有效出库数量为：%3张！");
    s = s.arg(p.total).arg(p.processed).arg(p.processed - p.rejected);
    if (in && !p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法入库");
    return s;
}

bool Count(BatchResult& r, const std::vector<Settled>& settled, const QStringList& codes,
           const BatchLibrary::Step& step) {
    bool goOn = true;
    for (const Settled& s : settled) {
        if (!s.outcome.done()) {
            ++r.progress.rejected;
            (s.missing ? r.progress.missingCodes : r.progress.rejectedCodes) += codes[s.index] + QLatin1Char('&');
        }
        if (!s.heldBy.isEmpty())
            r.progress.heldCopies.append({codes[s.index], s.heldBy});
        ++r.progress.processed;
        r.last = s.outcome;
        if (step && !step(s.index, r.progress))
            goOn = false;
    }
    return goOn;
}

} // namespace velda::batch
