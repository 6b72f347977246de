#include "items/ItemSearch.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "core/Session.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "store/Database.h"
#include "store/FirstColumn.h"
#include "transfer/TransferCommand.h"

namespace velda {

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

    bool inLibrary = false;
    QString libraryCode = LibraryCodes(code).constLast();
    const LibraryStore store(db);
    for (const QString& candidate : LibraryCodes(code)) {
        // A row whose volume is gone shows as not in the library.
        const rows::StoredDrawing row = store.readDrawing(candidate);
        if (!row.exists || !row.volumeKnown)
            continue;
        inLibrary = true;
        libraryCode = candidate;
        if (Acl::Grants(row.read, session.ctx)) {
            PreviewSource p;
            p.url = VolumeUrl(session.ctx.AdminPassword, row.server);
            p.remotePath = row.remotePath();
            p.code = candidate;
            p.version = rows::lastCheckIn(db, candidate);
            p.key = row.server + QLatin1Char('\n') + row.volume + QLatin1Char('\n') + row.fileName + QLatin1Char('\n') +
                    QString::number(p.version);
            d.preview = p;
        }
        d.caption = row.state == SeekText::StateNormal ? SeekText::InLibrary : SeekText::OtherState(row.state);
        break;
    }
    if (!inLibrary)
        d.caption = SeekText::NotInLibrary;

    // A check-out row has the last word, also beside a library row that still reads 正常.
    const QStringList holderCodes = inLibrary ? QStringList{libraryCode} : LibraryCodes(code);
    for (const QString& candidate : holderCodes) {
        if (const rows::Holder h = store.holderOf(candidate); h.exists) {
            d.caption = SeekText::CheckedOutBy(h.account, h.when);
            break;
        }
    }

    AppendLogRow(session, code, LogWord::BrowseItemInfo);
    return d;
}

} // namespace velda
