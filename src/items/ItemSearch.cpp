#include "items/ItemSearch.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/LibraryRows.h"
#include "store/Database.h"
#include "store/FirstColumn.h"
#include "transfer/TransferCommand.h"

#include <QSqlQuery>

namespace velda {

namespace {

QString textAt(const QSqlQuery& q, int column) {
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}

} // namespace

QString ItemSearchStatement(const ConditionConfig& config, const QString& conditionText) {
    // The prefix's "select * from " narrowed to the code: the same rows in the same order.
    QString prefix = config.selectPrefix;
    const QString all = QStringLiteral("select * from ");
    if (prefix.startsWith(all, Qt::CaseInsensitive))
        prefix = QStringLiteral("select 代号 from ") + prefix.mid(all.size());
    return JoinStatement(prefix, conditionText, config.orderSuffix);
}

Outcome SearchItemCodes(Session& session, const ConditionConfig& config, const QString& conditionText,
                        QStringList* codes, const std::function<void()>& onStart) {
    if (conditionText.isEmpty())
        return Outcome::refusal(ConditionText::EmptyCondition, kTitleProgram, Icon::None);
    return Guarded([&] {
        const Database& db = session.db();
        // The text runs as SQL: only a plain condition on this table's columns may reach the database.
        if (const auto refused = CheckConditionText(conditionText, TableColumns(db, config.table)))
            return Outcome::refusal(*refused);
        if (onStart)
            onStart();
        const QString statement = ItemSearchStatement(config, conditionText);
        QStringList found = FirstColumnTexts(db, statement);
        if (found.isEmpty())
            return Outcome::refusal(ConditionText::NoRows, config.noRowsTitle, config.noRowsIcon);
        *codes = std::move(found);
        return Outcome::success();
    });
}

QStringList LibraryCodes(const QString& code) {
    QStringList out{code};
    QString replaced = code;
    replaced.replace(QLatin1Char('/'), QLatin1Char('-'));
    if (replaced != code)
        out << replaced;
    return out;
}

ItemDetail LoadItemDetail(Session& session, const QString& code, bool loadRecords) {
    Database& db = session.db();
    ItemDetail d;
    d.code = code;
    if (loadRecords)
        d.records = LoadItemRecords(db, code);

    // Fields by position: the server folds the ASCII part of 服务器IP.
    bool inLibrary = false;
    QString libraryCode = LibraryCodes(code).constLast();
    for (const QString& candidate : LibraryCodes(code)) {
        QSqlQuery q = db.exec(QStringLiteral("select 读,入库文件名称,PDM入库图纸信息.目录名称,服务器IP,状态 from "
                                             "PDM入库图纸信息,PDM存储目录 where 代号=? and "
                                             "PDM入库图纸信息.目录名称=PDM存储目录.目录名称"),
                              {candidate});
        if (!q.next())
            continue;
        inLibrary = true;
        libraryCode = candidate;
        const QString read = textAt(q, 0);
        const QString fileName = textAt(q, 1);
        const QString volume = textAt(q, 2);
        const QString server = textAt(q, 3);
        const QString state = textAt(q, 4);
        if (Acl::Grants(read, session.ctx)) {
            PreviewSource p;
            p.url = VolumeUrl(session.ctx.AdminPassword, server);
            p.remotePath = RemotePath(volume, fileName);
            p.code = candidate;
            p.version = rows::lastCheckIn(db, candidate);
            p.key = server + QLatin1Char('\n') + volume + QLatin1Char('\n') + fileName + QLatin1Char('\n') +
                    QString::number(p.version);
            d.preview = p;
        }
        d.caption = state == SeekText::StateNormal ? SeekText::InLibrary : SeekText::OtherState(state);
        break;
    }
    if (!inLibrary)
        d.caption = SeekText::NotInLibrary;

    // A check-out row has the last word, also beside a library row that still reads 正常.
    const QStringList holderCodes = inLibrary ? QStringList{libraryCode} : LibraryCodes(code);
    for (const QString& candidate : holderCodes) {
        QSqlQuery q =
            db.exec(QStringLiteral("select 出库帐号,出库时间 from PDM出库图纸信息 where 代号=?"), {candidate});
        if (q.next()) {
            d.caption = SeekText::CheckedOutBy(textAt(q, 0), textAt(q, 1));
            break;
        }
    }

    AppendLogRow(session, code, LogWord::BrowseItemInfo);
    return d;
}

} // namespace velda
