#include "library/CheckInSteps.h"

namespace velda {

std::optional<Outcome> CheckInSteps::refuseFirst(const UserContext& ctx, const QString& code,
                                                 const QString& localPath) {
    if (code.isEmpty() || localPath.isEmpty())
        return Outcome::refusal(LibraryText::CodeOrFileEmpty);
    if (!Acl::PendingComplete(ctx))
        return Outcome::refusal(LibraryText::DefineRightsFirst, kTitleInfo);
    if (const QString tooLong = CodeLengthProblem(code); !tooLong.isEmpty())
        return Outcome::refusal(tooLong);
    // A code taken from a file name may hold a line break, which no stored file's name can.
    if (std::any_of(code.cbegin(), code.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; }))
        return Outcome::refusal(LibraryText::CodeWithControlCharacter);
    if (!QFileInfo(localPath).isFile())
        return Outcome::failure(QStringLiteral("本地文件%1不存在，入库无法完成！").arg(localPath));
    if (ctx.VolumeName.isEmpty() || ctx.VolumeServerIp.isEmpty())
        return Outcome::failure(QStringLiteral("登录所用的组<%1>没有存储目录，入库无法完成！").arg(ctx.LoginGroup));
    return std::nullopt;
}

qint64 CheckInSteps::record(bool holds) {
    LibraryStore store(m_db);
    VersionStore versions(m_db);
    if (holds)
        store.dropHold(m_code, m_ctx.UserId);
    if (m_old.exists) {
        // Described before the row changes: the row is all that tells a version stored by a client
        // that keeps none.
        if (m_keepVersions) {
            m_previousNumber = lastCheckIn(m_db, m_code);
            versions.describeCurrent({{m_code, m_previousNumber}});
        }
        store.replaceCheckIn(row());
    } else {
        store.insertCheckIn(row());
    }
    if (m_keepVersions)
        versions.revive({m_code});
    m_number = AppendNumberedLogRow(m_session, m_db, m_ctx.UserId, m_code, LogWord::CheckIn);
    if (m_keepVersions)
        versions.insert(version());
    return m_number;
}

void CheckInSteps::recordTogether(Session& session, Database& db, const std::vector<CheckInSteps*>& steps,
                                  bool reserved, const QHash<QString, qint64>& last) {
    const QString& user = steps.front()->user();
    QStringList holdCodes, logCodes;
    QList<CheckInRow> added, replaced;
    for (CheckInSteps* s : steps) {
        if (s->endsHold())
            holdCodes << s->code();
        logCodes << s->code();
        (s->replacesRow() ? replaced : added) << s->row();
    }
    LibraryStore store(db);
    VersionStore versions(db);
    const bool keep = steps.front()->keepsVersions();
    if (keep) {
        QStringList replacedCodes;
        for (const CheckInRow& r : replaced)
            replacedCodes << r.code;
        QHash<QString, qint64> replacedNumbers;
        for (const QString& c : replacedCodes)
            replacedNumbers.insert(c, last.value(c));
        versions.describeCurrent(replacedNumbers);
        for (CheckInSteps* s : steps)
            if (s->replacesRow())
                s->replacing(replacedNumbers.value(s->code()));
    }
    store.dropHolds(user, holdCodes);
    store.insertCheckIns(added);
    store.replaceCheckIns(replaced);
    if (keep)
        versions.revive(logCodes);
    if (reserved) {
        std::vector<qint64> numbers;
        for (CheckInSteps* s : steps) {
            numbers.push_back(s->reserved());
            s->recorded(s->reserved());
        }
        AppendLogRows(session, db, user, logCodes, numbers, LogWord::CheckIn);
    } else {
        const QHash<QString, qint64> numbers = AppendLogRows(session, db, user, logCodes, LogWord::CheckIn);
        for (CheckInSteps* s : steps) {
            const qint64 number = numbers.value(s->code());
            if (number <= 0)
                throw Error(QStringLiteral("图纸<%1>的日志记录没有返回序号").arg(s->code()));
            s->recorded(number);
        }
    }
    if (!keep)
        return;
    QList<VersionRow> rows;
    for (CheckInSteps* s : steps)
        rows << s->version();
    versions.insertMany(rows);
}

} // namespace velda
