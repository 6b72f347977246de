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
    const QVariantList rights = this->rights();
    if (holds)
        m_db.exec(QStringLiteral("delete from PDM出库图纸信息 where 代号=? and 出库帐号=?"), {m_code, m_ctx.UserId});
    QVariantList values = rights;
    values << m_ctx.UserId << LibraryDate(m_today) << m_storedName << m_ctx.VolumeName;
    if (m_old.exists) {
        values << m_code;
        m_db.exec(QStringLiteral("update PDM入库图纸信息 set 读=?,写=?,删=?,改=?,入库帐号=?,入库时间=?,入库文件名称=?,"
                                 "状态='正常',目录名称=? where 代号=?"),
                  values);
    } else {
        values.prepend(m_code);
        m_db.exec(QStringLiteral("insert into PDM入库图纸信息 (代号,读,写,删,改,入库帐号,入库时间,入库文件名称,状态,"
                                 "目录名称) values (?,?,?,?,?,?,?,?,'正常',?)"),
                  values);
    }
    return appendLogNumbered(m_session, m_db, m_ctx.UserId, m_code, LogWord::CheckIn);
}

void CheckInSteps::recordTogether(Session& session, Database& db, const std::vector<CheckInSteps*>& steps,
                                  bool reserved) {
    const QString& user = steps.front()->user();
    QStringList holdCodes, logCodes;
    QList<QVariantList> added;
    QList<QVariantList> replaced;
    for (CheckInSteps* s : steps) {
        if (s->endsHold())
            holdCodes << s->code();
        logCodes << s->code();
        QVariantList row = s->rowValues();
        if (s->replacesRow()) {
            replaced << row;
        } else {
            row.insert(8, QStringLiteral("正常"));
            added << row;
        }
    }
    if (!holdCodes.isEmpty()) {
        QVariantList values{user};
        for (const QString& c : holdCodes)
            values << c;
        db.exec(QStringLiteral("delete from PDM出库图纸信息 where 出库帐号=? and 代号 in (%1)")
                    .arg(QStringLiteral("?,").repeated(holdCodes.size()).chopped(1)),
                values);
    }
    if (!added.isEmpty())
        insertRows(db, QStringLiteral("PDM入库图纸信息"),
                   {QStringLiteral("代号"), QStringLiteral("读"), QStringLiteral("写"), QStringLiteral("删"),
                    QStringLiteral("改"), QStringLiteral("入库帐号"), QStringLiteral("入库时间"),
                    QStringLiteral("入库文件名称"), QStringLiteral("状态"), QStringLiteral("目录名称")},
                   added);
    if (!replaced.isEmpty()) {
        QVariantList values;
        for (const QVariantList& row : replaced)
            values << row;
        db.exec(QStringLiteral("update PDM入库图纸信息 set 读=v.column2,写=v.column3,删=v.column4,改=v.column5,"
                               "入库帐号=v.column6,入库时间=v.column7,入库文件名称=v.column8,状态='正常',"
                               "目录名称=v.column9 from (values %1) as v where PDM入库图纸信息.代号=v.column1")
                    .arg(QStringLiteral("(?,?,?,?,?,?,?,?,?),").repeated(replaced.size()).chopped(1)),
                values);
    }
    if (reserved) {
        std::vector<qint64> numbers;
        for (CheckInSteps* s : steps) {
            numbers.push_back(s->reserved());
            s->recorded(s->reserved());
        }
        appendLogs(session, db, user, logCodes, numbers, LogWord::CheckIn);
        return;
    }
    const QHash<QString, qint64> numbers = appendLogs(session, db, user, logCodes, LogWord::CheckIn);
    for (CheckInSteps* s : steps) {
        const qint64 number = numbers.value(s->code());
        if (number <= 0)
            throw Error(QStringLiteral("图纸<%1>的日志记录没有返回序号").arg(s->code()));
        s->recorded(number);
    }
}

} // namespace velda
