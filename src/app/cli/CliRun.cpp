#include "app/cli/CliRun.h"

#include "accounts/Acl.h"
#include "accounts/AdminRecord.h"
#include "accounts/Groups.h"
#include "accounts/LoginLock.h"
#include "accounts/Users.h"
#include "core/ActivityLog.h"
#include "core/Clock.h"
#include "core/Condition.h"
#include "core/Feedback.h"
#include "core/GateText.h"
#include "core/Outcome.h"
#include "core/Session.h"
#include "items/ItemRecords.h"
#include "items/ItemSearch.h"
#include "items/RecordExport.h"
#include "items/RecordImport.h"
#include "accounts/Acl.h"
#include "library/Batch.h"
#include "library/ChangeImpact.h"
#include "library/DrawingHistory.h"
#include "library/DrawingLibrary.h"
#include "library/LibraryStore.h"
#include "library/VolumeCheck.h"
#include "core/OfficeSettings.h"
#include "logview/LogView.h"
#include "shell/CommandTable.h"
#include "shell/Login.h"
#include "structure/WhereUsed.h"
#include "transfer/FtpClient.h"
#include "transfer/TransferPool.h"
#include "transfer/Volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <unistd.h>

namespace velda::cli {

namespace {

const QString kNoAddress = QStringLiteral(
    "本机尚未配置数据库服务器地址，请用 --server 主机[:端口] 指定服务器，或用 --local 使用本机数据库文件");
const QString kNoPassword =
    QStringLiteral("缺少登录密码：请用 --password-file 文件 给出，或设置环境变量 VELDA_PASSWORD");
const QString kNoTargetName = QStringLiteral("无法为零件<%1>生成本地文件名，出库无法完成！");
const QString kUnknownGroup = QStringLiteral("组<%1>不存在！");
const QString kPasswordFileUnreadable = QStringLiteral("无法读取密码文件%1");
const QString kPasswordLineTooLong = QStringLiteral("密码文件%1的第一行超过%2字节，不是密码");

int ExitFor(const Outcome& o) {
    if (o.done())
        return ExitDone;
    return o.refused() ? ExitRefused : ExitFailed;
}

QString ResultWord(const Outcome& o) {
    if (o.done())
        return QStringLiteral("done");
    return o.refused() ? QStringLiteral("refused") : QStringLiteral("failed");
}

void WriteOut(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// A password is one short line: reading stops at this length, so a file without a line end (a log,
// /dev/zero) is refused instead of being read to its end.
constexpr qsizetype kPasswordLineMax = 4096;

// The first line of a password file, without its line end; or, when there is none, why.
struct PasswordLine {
    std::optional<QString> password;
    QString problem;
};

PasswordLine ReadPasswordFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt, kPasswordFileUnreadable.arg(path)};
    // readLine(n) gives at most n - 1 bytes: room for the longest password and its "\r\n", and one more.
    QByteArray line = f.readLine(kPasswordLineMax + 4);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.size() > kPasswordLineMax)
        return {std::nullopt, kPasswordLineTooLong.arg(path).arg(kPasswordLineMax)};
    return {QString::fromUtf8(line), {}};
}

// A clock that reads the system's time.
class WallClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

class Runner final {
public:
    Runner(const CliArgs& args, Session& session, StderrFeedback& feedback)
        : m_args(args), m_session(session), m_feedback(feedback), m_client(session.ftpOptions) {}

    int dispatch();
    // Whether the subcommand is one this program knows.
    static bool knows(const QString& command);

private:
    struct Subcommand {
        QLatin1String name;
        int (Runner::*run)();
    };
    // The one list of subcommands, for the early check and for the dispatch alike.
    static const std::vector<Subcommand>& subcommands();

    TransferRunner transfers() {
        return [this](const TransferOperation& op) { return WaitForTransfer(m_client, op); };
    }
    // A script must not change what products use unseen: the question the dialogs ask is the refusal
    // here, unless --yes answers it.
    std::optional<Outcome> unconfirmedChange(const QStringList& codes, ChangeKind kind) {
        const QString question = ImpactQuestion(m_session, codes, kind);
        if (question.isEmpty() || m_args.has(QStringLiteral("--yes")))
            return std::nullopt;
        return Outcome::refusal(question + QStringLiteral("\n（确认继续请加 --yes）"));
    }
    bool gates(const QString& item) {
        const Command* command = FindCommand(item);
        if (!command)
            return true;
        if (!ShowOutcome(m_feedback, PassGates(m_session, *command)))
            return false;
        ApplyEffect(m_session, *command);
        return true;
    }
    // Shows the outcome's message and, for --json, one object with the result; returns the exit code.
    int finish(const Outcome& o, QJsonObject json = {}) {
        ShowOutcome(m_feedback, o);
        if (m_args.json) {
            json.insert(QStringLiteral("command"), m_args.command);
            json.insert(QStringLiteral("result"), ResultWord(o));
            json.insert(QStringLiteral("message"), o.text);
            record(json);
        }
        return ExitFor(o);
    }
    void record(const QJsonObject& o) {
        WriteOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    }
    int usage(const QString& text) {
        std::fprintf(stderr, "%s\n（velda-cli --help 显示用法）\n", text.toUtf8().constData());
        return ExitUsage;
    }
    // The one command a session runs at a time, as the dialogs hold it.
    std::optional<Outcome> busy(const CommandGuard& guard) {
        if (guard)
            return std::nullopt;
        return Outcome::refusal(guard.refusal());
    }
    BatchLibrary::Step progress(const QString& what) {
        if (!isatty(fileno(stderr)) || m_args.json)
            return {};
        return [what](int, const BatchProgress& p) {
            std::fprintf(stderr, "\r%s：%d/%d，拒绝%d", what.toUtf8().constData(), p.processed, p.total, p.rejected);
            std::fflush(stderr);
            return true;
        };
    }
    int finishBatch(const BatchResult& r, const QString& what) {
        if (isatty(fileno(stderr)) && !m_args.json && r.progress.total > 0)
            std::fprintf(stderr, "\n");
        (void)what;
        m_feedback.message(r.outcome.text, r.outcome.icon, r.outcome.title);
        const int code = r.outcome.failed() ? ExitFailed : (r.progress.rejected > 0 ? ExitRefused : ExitDone);
        if (m_args.json) {
            // Every code not fetched or not checked in, as before; those with no drawing also on their own.
            QJsonArray rejected, missing, copies;
            for (const QString& c : r.progress.rejectedCodes.split(QLatin1Char('&'), Qt::SkipEmptyParts))
                rejected.append(c);
            for (const QString& c : r.progress.missingCodes.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
                rejected.append(c);
                missing.append(c);
            }
            for (const auto& [c, account] : r.progress.heldCopies)
                copies.append(QJsonObject{{QStringLiteral("code"), c}, {QStringLiteral("heldBy"), account}});
            record(QJsonObject{{QStringLiteral("command"), m_args.command},
                               {QStringLiteral("result"),
                                r.outcome.failed()
                                    ? QStringLiteral("failed")
                                    : (r.progress.rejected > 0 ? QStringLiteral("refused") : QStringLiteral("done"))},
                               {QStringLiteral("total"), r.progress.total},
                               {QStringLiteral("processed"), r.progress.processed},
                               {QStringLiteral("rejected"), r.progress.rejected},
                               {QStringLiteral("rejectedCodes"), rejected},
                               {QStringLiteral("missingCodes"), missing},
                               {QStringLiteral("heldCopies"), copies},
                               {QStringLiteral("message"), r.outcome.text}});
        }
        return code;
    }

    int checkIn();
    int checkOut();
    int deleteDrawing();
    int find();
    int show();
    int holds();
    int volumeCheck();
    int log();
    int adminRecord();
    int volumeAdd();
    int volumeRemove();
    int groupAdd();
    int groupSetVolume();
    int userAdd();
    int userRemove();
    int userUnlock();
    int whereUsed();
    int importRecords();
    int exportRecords();
    int history();
    int restore();
    int deleted();
    int undelete();
    int keepVersions();
    int checkOutVersion(const QString& code, const QString& folder);

    const CliArgs& m_args;
    Session& m_session;
    StderrFeedback& m_feedback;
    FtpClient m_client;
};

const std::vector<Runner::Subcommand>& Runner::subcommands() {
    static const std::vector<Subcommand> list = {
        {QLatin1String("checkin"), &Runner::checkIn},
        {QLatin1String("checkout"), &Runner::checkOut},
        {QLatin1String("delete"), &Runner::deleteDrawing},
        {QLatin1String("find"), &Runner::find},
        {QLatin1String("show"), &Runner::show},
        {QLatin1String("holds"), &Runner::holds},
        {QLatin1String("volume-check"), &Runner::volumeCheck},
        {QLatin1String("log"), &Runner::log},
        {QLatin1String("admin-record"), &Runner::adminRecord},
        {QLatin1String("volume add"), &Runner::volumeAdd},
        {QLatin1String("volume remove"), &Runner::volumeRemove},
        {QLatin1String("group add"), &Runner::groupAdd},
        {QLatin1String("group set-volume"), &Runner::groupSetVolume},
        {QLatin1String("user add"), &Runner::userAdd},
        {QLatin1String("user remove"), &Runner::userRemove},
        {QLatin1String("user unlock"), &Runner::userUnlock},
        {QLatin1String("where-used"), &Runner::whereUsed},
        {QLatin1String("import"), &Runner::importRecords},
        {QLatin1String("export"), &Runner::exportRecords},
        {QLatin1String("history"), &Runner::history},
        {QLatin1String("restore"), &Runner::restore},
        {QLatin1String("deleted"), &Runner::deleted},
        {QLatin1String("undelete"), &Runner::undelete},
        {QLatin1String("keep-versions"), &Runner::keepVersions},
    };
    return list;
}

bool Runner::knows(const QString& command) {
    const auto& list = subcommands();
    return std::any_of(list.begin(), list.end(), [&](const Subcommand& s) { return s.name == command; });
}

int Runner::dispatch() {
    for (const Subcommand& s : subcommands())
        if (s.name == m_args.command)
            return (this->*s.run)();
    return usage(QStringLiteral("未知的子命令：%1").arg(m_args.command));
}

int Runner::checkIn() {
    if (m_args.hasValue(QStringLiteral("--folder"))) {
        if (!gates(QStringLiteral("MultiInlib")))
            return ExitRefused;
        const QString folder = QFileInfo(m_args.value(QStringLiteral("--folder"))).absoluteFilePath();
        if (!IsUsableFolder(folder))
            return finish(Outcome::refusal(BatchText::NoFolderIn));
        const CommandGuard running(m_session, QStringLiteral("批量入库"));
        if (auto refused = busy(running))
            return finish(*refused);
        QStringList files;
        FindAllFile(folder, m_args.has(QStringLiteral("--recursive")), files);
        QStringList codes;
        for (const QString& f : files)
            codes << DrawingCodeFromPath(f);
        if (auto no = unconfirmedChange(codes, ChangeKind::CheckIn))
            return finish(*no);
        BatchLibrary batch(m_session, transfers());
        const QString comment = m_args.value(QStringLiteral("--comment"));
        if (!CleanComment(comment))
            return finish(Outcome::refusal(VersionText::CommentTooLong(comment.size())));
        batch.comment = *CleanComment(comment);
        return finishBatch(batch.CheckIn(files, progress(QStringLiteral("批量入库"))), QStringLiteral("批量入库"));
    }
    const QString code = m_args.words.value(0);
    const QString file = m_args.words.value(1);
    if (!gates(QStringLiteral("InLibDrawing")))
        return ExitRefused;
    QJsonObject json{{QStringLiteral("code"), code}};
    if (code.isEmpty() || file.isEmpty())
        return finish(Outcome::refusal(LibraryText::CodeOrFileEmpty), json);
    const QString path = QFileInfo(file).absoluteFilePath();
    json.insert(QStringLiteral("file"), path);
    DrawingLibrary library(m_session, transfers());
    // The file box of the dialog: a stored drawing needs the write right and lends its rights.
    const DrawingLibrary::Choice choice = library.PrepareCheckIn(code);
    if (!choice.refusal.done())
        return finish(choice.refusal, json);
    if (auto no = unconfirmedChange({code}, ChangeKind::CheckIn))
        return finish(*no, json);
    const CommandGuard running(m_session, QStringLiteral("图纸入库"));
    if (auto refused = busy(running))
        return finish(*refused, json);
    return finish(library.CheckIn(code, path, m_args.value(QStringLiteral("--comment"))), json);
}

int Runner::checkOut() {
    if (m_args.hasValue(QStringLiteral("--where"))) {
        const bool byPart = m_args.has(QStringLiteral("--by-part"));
        if (!gates(byPart ? QStringLiteral("OutLibByPart") : QStringLiteral("OutLibByDrawing")))
            return ExitRefused;
        const QString condition = m_args.value(QStringLiteral("--where"));
        if (condition.isEmpty())
            return finish(Outcome::refusal(ConditionText::EmptyCondition, kTitleProgram, Icon::None));
        const QString folder = QFileInfo(m_args.value(QStringLiteral("--to"))).absoluteFilePath();
        if (!m_args.hasValue(QStringLiteral("--to")) || !IsUsableFolder(folder))
            return finish(Outcome::refusal(BatchText::NoFolderOut));
        QStringList codes;
        const Outcome searched =
            SearchItemCodes(m_session, ConditionConfig::batchCheckOut(m_session.ctx.SeekMode), condition, &codes);
        if (!searched.done())
            return finish(searched);
        const CommandGuard running(m_session, QStringLiteral("批量出库"));
        if (auto refused = busy(running))
            return finish(*refused);
        BatchLibrary batch(m_session, transfers());
        return finishBatch(batch.CheckOut(codes, folder, progress(QStringLiteral("批量出库"))),
                           QStringLiteral("批量出库"));
    }
    const QString code = m_args.words.value(0);
    if (!gates(QStringLiteral("OutLibDrawing")))
        return ExitRefused;
    QJsonObject json{{QStringLiteral("code"), code}};
    const QString folder =
        QFileInfo(m_args.hasValue(QStringLiteral("--to")) ? m_args.value(QStringLiteral("--to")) : QDir::currentPath())
            .absoluteFilePath();
    if (code.isEmpty())
        return finish(Outcome::refusal(LibraryText::CodeOrFileEmpty), json);
    if (!IsUsableFolder(folder))
        return finish(Outcome::refusal(BatchText::NoFolderOut), json);
    if (m_args.hasValue(QStringLiteral("--version")))
        return checkOutVersion(code, folder);
    const std::optional<QString> target = BatchTargetFile(folder, code);
    if (!target)
        return finish(Outcome::refusal(kNoTargetName.arg(code)), json);
    json.insert(QStringLiteral("file"), *target);
    DrawingLibrary library(m_session, transfers());
    const CommandGuard running(m_session, QStringLiteral("图纸出库"));
    if (auto refused = busy(running))
        return finish(*refused, json);
    return finish(library.CheckOut(code, *target), json);
}

int Runner::deleteDrawing() {
    const QString code = m_args.words.value(0);
    if (!gates(QStringLiteral("DelLibDrawing")))
        return ExitRefused;
    if (auto no = unconfirmedChange({code}, ChangeKind::Delete))
        return finish(*no, QJsonObject{{QStringLiteral("code"), code}});
    DrawingLibrary library(m_session, transfers());
    const CommandGuard running(m_session, QStringLiteral("图纸删除"));
    if (auto refused = busy(running))
        return finish(*refused);
    return finish(library.Delete(code), QJsonObject{{QStringLiteral("code"), code}});
}

int Runner::find() {
    const bool byPart = m_args.has(QStringLiteral("--by-part"));
    if (!gates(byPart ? QStringLiteral("SeekItemInfoByPart") : QStringLiteral("SeekItemInfoByDrawing")))
        return ExitRefused;
    QStringList codes;
    const Outcome searched = SearchItemCodes(m_session, ConditionConfig::itemSearch(m_session.ctx.SeekMode),
                                             m_args.value(QStringLiteral("--where")), &codes);
    if (!searched.done())
        return finish(searched);
    for (const QString& code : codes) {
        if (m_args.json)
            record(QJsonObject{{QStringLiteral("code"), code}});
        else
            WriteOut(code + QLatin1Char('\n'));
    }
    m_feedback.message(CountText(int(codes.size())), Icon::None, kTitleFeedback);
    return ExitDone;
}

int Runner::show() {
    const QString code = m_args.words.value(0);
    if (!gates(QStringLiteral("SeekItemInfoByDrawing")))
        return ExitRefused;
    ItemDetail detail;
    QString holder;
    QString since;
    const Outcome loaded = Guarded([&] {
        detail = LoadItemDetail(m_session, code, true);
        const LibraryStore store(m_session.db());
        for (const QString& candidate : LibraryCodes(code)) {
            if (const rows::Holder h = store.holderOf(candidate); h.exists) {
                holder = h.account;
                since = h.when;
                break;
            }
        }
        return Outcome::success();
    });
    if (!loaded.done())
        return finish(loaded);
    QList<std::pair<QString, QString>> fields;
    if (const auto& p = detail.records.part)
        fields << std::pair{QStringLiteral("名称"), p->name} << std::pair{QStringLiteral("重量"), p->weight}
               << std::pair{QStringLiteral("材料"), p->material};
    if (const auto& d = detail.records.drawing)
        fields << std::pair{QStringLiteral("设计"), d->design} << std::pair{QStringLiteral("校对"), d->verify}
               << std::pair{QStringLiteral("主管设计"), d->main} << std::pair{QStringLiteral("审定"), d->head}
               << std::pair{QStringLiteral("标准审查"), d->standard}
               << std::pair{QStringLiteral("工艺审查"), d->process} << std::pair{QStringLiteral("日期"), d->date}
               << std::pair{QStringLiteral("比例"), d->scale} << std::pair{QStringLiteral("编码"), d->coding}
               << std::pair{QStringLiteral("幅面"), d->sheetSize} << std::pair{QStringLiteral("页数"), d->pages}
               << std::pair{QStringLiteral("图样"), d->mark};
    if (m_args.json) {
        QJsonObject o{{QStringLiteral("code"), code},
                      {QStringLiteral("partRecord"), detail.records.part.has_value()},
                      {QStringLiteral("drawingRecord"), detail.records.drawing.has_value()},
                      {QStringLiteral("library"), detail.caption},
                      {QStringLiteral("holder"), holder},
                      {QStringLiteral("heldSince"), since}};
        for (const auto& [name, value] : fields)
            o.insert(name, value);
        record(o);
    } else {
        QString text = QStringLiteral("代号：%1\n").arg(code);
        if (!detail.records.part && !detail.records.drawing)
            text += QStringLiteral("（没有零件信息和图纸信息）\n");
        for (const auto& [name, value] : fields)
            text += name + QStringLiteral("：") + value + QLatin1Char('\n');
        text += QStringLiteral("入库状态：") + detail.caption + QLatin1Char('\n');
        if (!holder.isEmpty())
            text += QStringLiteral("出库人：%1（%2）\n").arg(holder, since);
        WriteOut(text);
    }
    return ExitDone;
}

int Runner::holds() {
    QList<QStringList> rows;
    const Outcome read = Guarded([&] {
        for (const HoldRow& h : LibraryStore(m_session.db()).holds({}, LibraryStore::HoldOrder::BySince))
            rows << QStringList{h.code, h.holder, h.since};
        return Outcome::success();
    });
    if (!read.done())
        return finish(read);
    for (const QStringList& r : rows) {
        if (m_args.json)
            record(QJsonObject{
                {QStringLiteral("code"), r[0]}, {QStringLiteral("holder"), r[1]}, {QStringLiteral("since"), r[2]}});
        else
            WriteOut(r.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    }
    return ExitDone;
}

// The check of the library care window, for a nightly job: the findings on stdout, the counts on
// stderr; the clean-up and the move of orphans only when asked for, since the flag is the
// confirmation the window asks for.
int Runner::volumeCheck() {
    if (!gates(QStringLiteral("VolumeCheck")))
        return ExitRefused;
    const QString volume = m_args.words.value(0);
    const CommandGuard running(m_session, VolumeCheckText::LogCheck);
    if (auto refused = busy(running))
        return finish(*refused);
    VolumeCheck check(m_session, transfers());
    VolumeCheckResult result;
    const Outcome checked = check.Run(volume, result);
    if (!checked.done())
        return finish(checked);
    if (m_args.has(QStringLiteral("--verify"))) {
        if (isatty(fileno(stderr)) && !m_args.json)
            check.onProgress = [](int done, int total, const QString&) {
                std::fprintf(stderr, "\r校验：%d/%d", done, total);
                std::fflush(stderr);
            };
        const Outcome verified = check.Verify(result, m_args.has(QStringLiteral("--all-versions")));
        if (!verified.done())
            return finish(verified);
    }
    for (const Finding& f : result.findings) {
        const QString modified =
            f.modified.isValid() ? f.modified.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm")) : QString();
        if (m_args.json)
            record(QJsonObject{{QStringLiteral("kind"), VolumeCheckText::KindName(f.kind)},
                               {QStringLiteral("volume"), f.volume},
                               {QStringLiteral("code"), f.code},
                               {QStringLiteral("file"), f.fileName},
                               {QStringLiteral("size"), f.size},
                               {QStringLiteral("modified"), modified}});
        else
            WriteOut(QStringList{VolumeCheckText::KindName(f.kind), f.volume, f.code, f.fileName,
                                 f.size >= 0 ? QString::number(f.size) : QString(), modified}
                         .join(QLatin1Char('\t')) +
                     QLatin1Char('\n'));
    }
    m_feedback.message(QStringLiteral("共检查%1个存储目录，%2条库中记录，%3个文件：")
                               .arg(result.volumes.size())
                               .arg(result.rows)
                               .arg(result.files) +
                           VolumeCheckText::Counts(result),
                       Icon::None, kTitleFeedback);
    // Volumes that could not be listed: the check ran, but a nightly job must see it failed there.
    int code = result.failed.isEmpty() ? ExitDone : ExitFailed;
    if (!result.failed.isEmpty())
        ShowOutcome(m_feedback, checked);
    // A failure outweighs a refusal, which outweighs done.
    auto worst = [&code](const Outcome& o) { code = std::max(code, ExitFor(o)); };
    if (m_args.hasValue(QStringLiteral("--export"))) {
        const QString path = QFileInfo(m_args.value(QStringLiteral("--export"))).absoluteFilePath();
        const Outcome written = path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive)
                                    ? VolumeCheck::ExportWorkbook(result, path)
                                    : VolumeCheck::ExportText(result, path);
        ShowOutcome(m_feedback, written);
        worst(written);
    }
    if (m_args.has(QStringLiteral("--clean"))) {
        CareCounts counts;
        const Outcome cleaned = check.CleanUp(result, counts);
        ShowOutcome(m_feedback, cleaned);
        worst(cleaned);
    }
    if (m_args.has(QStringLiteral("--move-orphans"))) {
        CareCounts counts;
        const Outcome moved = check.MoveOrphans(result, counts);
        ShowOutcome(m_feedback, moved);
        worst(moved);
    }
    return code;
}

int Runner::log() {
    if (!gates(QStringLiteral("Log")))
        return ExitRefused;
    LogSearch prepared;
    const Outcome checked = Guarded([&] {
        prepared = PrepareLogSearch(m_session.db(), m_args.value(QStringLiteral("--where")));
        return prepared.verdict;
    });
    if (!checked.done())
        return finish(checked);
    const LogFetch fetch = FetchLogRows(m_session.db(), prepared.sql);
    if (!fetch.error.isEmpty())
        return finish(Outcome::failure(fetch.error));
    for (const LogRow& r : fetch.rows) {
        if (m_args.json)
            record(QJsonObject{{QStringLiteral("seq"), r.seq},
                               {QStringLiteral("id"), r.id},
                               {QStringLiteral("code"), r.code},
                               {QStringLiteral("time"), r.time},
                               {QStringLiteral("word"), r.word}});
        else
            WriteOut(QStringList{QString::number(r.seq), r.id, r.code, r.time, r.word}.join(QLatin1Char('\t')) +
                     QLatin1Char('\n'));
    }
    if (fetch.rows.empty())
        m_feedback.stop(ConditionText::NoRows);
    else
        m_feedback.message(CountText(int(fetch.rows.size())), Icon::None, kTitleFeedback);
    return ExitDone;
}

int Runner::adminRecord() {
    if (!m_args.hasValue(QStringLiteral("--password-file")))
        return usage(QStringLiteral("admin-record 需要 --password-file 文件（文件服务器帐号velda的密码）"));
    if (!gates(QStringLiteral("AdminAcount")))
        return ExitRefused;
    const PasswordLine read = ReadPasswordFile(m_args.value(QStringLiteral("--password-file")));
    if (!read.password)
        return finish(Outcome::failure(read.problem));
    const QString password = *read.password;
    if (password.isEmpty())
        return finish(Outcome::refusal(AdminRecordText::WrongPassword));
    return finish(Guarded([&] {
        WriteAdminPassword(m_session.db(), m_session.machineSerialHex(), password);
        m_session.ctx.AdminPassword = password;
        return Outcome::success(AdminRecordText::Done);
    }));
}

int Runner::volumeAdd() {
    if (m_args.words.size() != 2)
        return usage(QStringLiteral("用法：volume add 名称 主机[:端口] [--remark 备注] [--tls require|prefer|off]"));
    const auto tls = m_args.hasValue(QStringLiteral("--tls")) ? TlsModeFromWord(m_args.value(QStringLiteral("--tls")))
                                                              : std::optional<FtpTlsMode>(FtpTlsMode::Prefer);
    if (!tls)
        return usage(QStringLiteral("--tls 只能是 require、prefer 或 off"));
    if (!gates(QStringLiteral("AddVolume")))
        return ExitRefused;
    const Volume volume{m_args.words[0], m_args.words[1], m_args.value(QStringLiteral("--remark")), *tls};
    const CommandGuard running(m_session, QStringLiteral("添加存储目录"));
    if (auto refused = busy(running))
        return finish(*refused);
    return finish(Guarded([&] { return CreateVolume(m_session, transfers(), volume); }),
                  QJsonObject{{QStringLiteral("volume"), volume.name}});
}

int Runner::volumeRemove() {
    if (m_args.words.size() != 1)
        return usage(QStringLiteral("用法：volume remove 名称"));
    if (!gates(QStringLiteral("DelVolume")))
        return ExitRefused;
    const QString name = m_args.words[0];
    const CommandGuard running(m_session, QStringLiteral("删除存储目录"));
    if (auto refused = busy(running))
        return finish(*refused);
    return finish(Guarded([&] { return RemoveVolume(m_session, transfers(), name); }),
                  QJsonObject{{QStringLiteral("volume"), name}});
}

int Runner::groupAdd() {
    if (m_args.words.size() != 2)
        return usage(QStringLiteral("用法：group add 组名 存储目录 [--remark 备注]"));
    if (!gates(QStringLiteral("AddGroup")))
        return ExitRefused;
    const QString name = m_args.words[0];
    const QString volume = m_args.words[1];
    const QJsonObject json{{QStringLiteral("group"), name}};
    return finish(Guarded([&] {
                      // The dialog offers only the volumes there are.
                      if (!ListVolumeNames(m_session).contains(volume))
                          return Outcome::refusal(GroupVolumeText::UnknownVolume.arg(volume));
                      return AddGroup(m_session, name, volume, m_args.value(QStringLiteral("--remark")));
                  }),
                  json);
}

int Runner::groupSetVolume() {
    if (m_args.words.size() != 2)
        return usage(QStringLiteral("用法：group set-volume 组名 存储目录"));
    if (!gates(QStringLiteral("GrpVolume")))
        return ExitRefused;
    return finish(ChangeGroupVolume(m_session, m_args.words[0], m_args.words[1]),
                  QJsonObject{{QStringLiteral("group"), m_args.words[0]}});
}

int Runner::userAdd() {
    if (m_args.words.size() != 1 || !m_args.hasValue(QStringLiteral("--password-file")))
        return usage(QStringLiteral("用法：user add 帐号 --password-file 文件 --groups 组1,组2 [--remark 备注]"));
    if (!gates(QStringLiteral("AddUser")))
        return ExitRefused;
    const QString id = m_args.words[0];
    const QJsonObject json{{QStringLiteral("user"), id}};
    const PasswordLine read = ReadPasswordFile(m_args.value(QStringLiteral("--password-file")));
    if (!read.password)
        return finish(Outcome::failure(read.problem), json);
    const QString password = *read.password;
    const QStringList wanted = m_args.value(QStringLiteral("--groups")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    return finish(Guarded([&] {
                      // The dialog's list offers the groups there are, and hands over the chosen ones in
                      // its own order.
                      const QStringList all = ListGroupNames(m_session);
                      for (const QString& g : wanted)
                          if (!all.contains(g))
                              return Outcome::refusal(kUnknownGroup.arg(g));
                      QStringList selected;
                      for (const QString& g : all)
                          if (wanted.contains(g))
                              selected << g;
                      return AddAccount(m_session, id, password, password, selected,
                                        m_args.value(QStringLiteral("--remark")));
                  }),
                  json);
}

int Runner::userRemove() {
    if (m_args.words.size() != 1)
        return usage(QStringLiteral("用法：user remove 帐号"));
    if (!gates(QStringLiteral("DelUser")))
        return ExitRefused;
    const QString id = m_args.words[0];
    return finish(Guarded([&] { return DeleteAccount(m_session, id); }), QJsonObject{{QStringLiteral("user"), id}});
}

// Administrators only; the name need not be an account: unknown names are locked out alike.
int Runner::userUnlock() {
    if (m_args.words.size() != 1)
        return usage(QStringLiteral("用法：user unlock 帐号"));
    const QString id = m_args.words[0];
    return finish(UnlockAccount(m_session, id), QJsonObject{{QStringLiteral("user"), id}});
}

// Reads only, as the structure windows do: no gate.
int Runner::whereUsed() {
    WhereUsed w;
    const Outcome found = Guarded([&] {
        w = FindWhereUsed(m_session, m_args.words[0], m_args.value(QStringLiteral("--depth")).toInt());
        return Outcome::success(w.empty() ? WhereUsedText::NotUsed.arg(m_args.words[0]) : QString());
    });
    if (!w.cycles.isEmpty())
        m_feedback.stop(WhereUsedText::Cycle.arg(w.cycles.join(QStringLiteral("、"))));
    if (found.done())
        m_args.json ? record(WhereUsedJson(w)) : WriteOut(WhereUsedPlainText(w));
    ShowOutcome(m_feedback, found);
    return ExitFor(found);
}

QString VerdictWord(const ImportRow& r) {
    switch (r.verdict) {
    case RowVerdict::New:
        return QStringLiteral("new");
    case RowVerdict::Changed:
        return QStringLiteral("changed");
    case RowVerdict::Unchanged:
        return QStringLiteral("unchanged");
    case RowVerdict::Refused:
        break;
    }
    return QStringLiteral("refused");
}

QString ResultWord(RowResult result) {
    switch (result) {
    case RowResult::Added:
        return QStringLiteral("added");
    case RowResult::Updated:
        return QStringLiteral("updated");
    case RowResult::Skipped:
        return QStringLiteral("skipped");
    case RowResult::Failed:
        return QStringLiteral("failed");
    case RowResult::NotReached:
        return QStringLiteral("not-reached");
    case RowResult::Pending:
        break;
    }
    return {};
}

// The window's import without the window: the dry run or the import, one line (or JSON object) a row.
int Runner::importRecords() {
    if (!gates(QStringLiteral("ImportItemInfo")))
        return ExitRefused;
    const QString path = QFileInfo(m_args.words[0]).absoluteFilePath();
    const QString encoding = m_args.value(QStringLiteral("--encoding")).toLower();
    SheetReadOptions options;
    options.sheet = m_args.value(QStringLiteral("--sheet"));
    options.encoding = encoding == QLatin1String("gbk")     ? TextEncoding::Gbk
                       : encoding == QLatin1String("utf-8") ? TextEncoding::Utf8
                                                            : TextEncoding::Detect;
    const SheetTable table = ReadSheetFile(path, options);
    if (!table.ok())
        return finish(Outcome::refusal(table.error));
    ImportMapping mapping = MatchColumns(table);
    for (const QString& map : m_args.maps) {
        const qsizetype eq = map.indexOf(QLatin1Char('='));
        const QString problem = eq < 0 ? QStringLiteral("--map 的写法是 字段=列：%1").arg(map)
                                       : MapColumn(mapping, map.left(eq), map.mid(eq + 1));
        if (!problem.isEmpty())
            return usage(problem);
    }
    if (mapping.column[FieldCode] < 0)
        return finish(Outcome::refusal(ImportText::NoCodeColumn));
    const bool dryRun = m_args.has(QStringLiteral("--dry-run"));
    const CommandGuard running(m_session, QStringLiteral("导入零件信息"));
    if (auto refused = busy(running))
        return finish(*refused);
    ImportPlan plan;
    const Outcome planned = Guarded([&] {
        plan = PlanImport(m_session.db(), table, mapping);
        return Outcome::success();
    });
    if (!planned.done())
        return finish(planned);
    Outcome outcome = Outcome::success(QStringLiteral("预演（未写入）：新增%1条，修改%2条，不变%3条，拒绝%4行")
                                           .arg(plan.count(RowVerdict::New))
                                           .arg(plan.count(RowVerdict::Changed))
                                           .arg(plan.count(RowVerdict::Unchanged))
                                           .arg(plan.count(RowVerdict::Refused)));
    if (!dryRun) {
        const bool tty = isatty(fileno(stderr)) && !m_args.json;
        outcome = ApplyImport(m_session, plan, m_args.has(QStringLiteral("--update")), [tty](int done, int total) {
            if (tty) {
                std::fprintf(stderr, "\r导入零件信息：%d/%d", done, total);
                std::fflush(stderr);
            }
            return true;
        });
        if (tty)
            std::fprintf(stderr, "\n");
    }
    const QList<QStringList> report = ImportReportRows(plan);
    for (size_t i = 0; i < plan.rows.size(); ++i) {
        const ImportRow& r = plan.rows[i];
        if (!m_args.json) {
            WriteOut(report[qsizetype(i)].join(QLatin1Char('\t')) + QLatin1Char('\n'));
            continue;
        }
        QJsonArray changes;
        for (const FieldChange& c : r.changes)
            changes.append(QJsonObject{{QStringLiteral("field"), RecordFieldNames()[c.field]},
                                       {QStringLiteral("before"), c.before},
                                       {QStringLiteral("after"), c.after}});
        QJsonObject o{{QStringLiteral("row"), r.row},
                      {QStringLiteral("code"), r.code},
                      {QStringLiteral("verdict"), VerdictWord(r)},
                      {QStringLiteral("changes"), changes}};
        if (!r.reason.isEmpty())
            o.insert(QStringLiteral("reason"), r.reason);
        if (r.result != RowResult::Pending)
            o.insert(QStringLiteral("result"), ResultWord(r.result));
        if (!r.message.isEmpty())
            o.insert(QStringLiteral("message"), r.message);
        record(o);
    }
    ShowOutcome(m_feedback, outcome);
    if (!outcome.done())
        return ExitFor(outcome);
    return plan.count(RowVerdict::Refused) > 0 ? ExitRefused : ExitDone;
}

int Runner::exportRecords() {
    if (!gates(QStringLiteral("SeekItemInfoByDrawing")))
        return ExitRefused;
    const QString path = QFileInfo(m_args.words[0]).absoluteFilePath();
    return finish(ExportItemRecords(m_session.db(), path), QJsonObject{{QStringLiteral("file"), path}});
}

QJsonObject VersionJson(const VersionRow& v) {
    QJsonObject o{{QStringLiteral("code"), v.code},     {QStringLiteral("version"), v.number},
                  {QStringLiteral("user"), v.user},     {QStringLiteral("time"), v.time},
                  {QStringLiteral("sha256"), v.sha256}, {QStringLiteral("comment"), v.comment},
                  {QStringLiteral("volume"), v.volume}, {QStringLiteral("storedName"), v.storedName}};
    o.insert(QStringLiteral("size"), v.size < 0 ? QJsonValue() : QJsonValue(v.size));
    if (!v.deletedAt.isEmpty()) {
        o.insert(QStringLiteral("deletedBy"), v.deletedBy);
        o.insert(QStringLiteral("deletedAt"), v.deletedAt);
    }
    return o;
}

// The kept versions of one drawing, newest first; one line, or one object, each.
int Runner::history() {
    const QString code = m_args.words.value(0);
    DrawingHistory history(m_session, transfers());
    std::vector<VersionRow> versions;
    const Outcome read = history.Versions(code, versions);
    if (!read.done())
        return finish(read, QJsonObject{{QStringLiteral("code"), code}});
    for (const VersionRow& v : versions) {
        if (m_args.json)
            record(VersionJson(v));
        else
            WriteOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\n")
                         .arg(v.number)
                         .arg(v.user, v.time, v.size < 0 ? QString() : QString::number(v.size), v.sha256,
                              QString(v.comment).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    }
    return ExitDone;
}

int Runner::checkOutVersion(const QString& code, const QString& folder) {
    bool ok = false;
    const qint64 number = m_args.value(QStringLiteral("--version")).toLongLong(&ok);
    QJsonObject json{{QStringLiteral("code"), code}, {QStringLiteral("version"), number}};
    if (!ok || number < 0)
        return usage(QStringLiteral("--version 应为版本号（history 列出的数字）"));
    DrawingHistory history(m_session, transfers());
    const CommandGuard running(m_session, QStringLiteral("取出历史版本"));
    if (auto refused = busy(running))
        return finish(*refused, json);
    QString savedAs;
    const Outcome out = history.Fetch(code, number, folder, &savedAs);
    if (out.done())
        json.insert(QStringLiteral("file"), savedAs);
    return finish(out, json);
}

int Runner::restore() {
    const QString code = m_args.words.value(0);
    const qint64 number = m_args.words.value(1).toLongLong();
    if (!gates(QStringLiteral("InLibDrawing")))
        return ExitRefused;
    QJsonObject json{{QStringLiteral("code"), code}, {QStringLiteral("version"), number}};
    DrawingHistory history(m_session, transfers());
    const CommandGuard running(m_session, QStringLiteral("恢复历史版本"));
    if (auto refused = busy(running))
        return finish(*refused, json);
    return finish(history.Restore(code, number, m_args.value(QStringLiteral("--comment"))), json);
}

int Runner::deleted() {
    DrawingHistory history(m_session, transfers());
    std::vector<DeletedDrawing> list;
    const Outcome read = history.Deleted(list);
    if (!read.done())
        return finish(read);
    for (const DeletedDrawing& d : list) {
        if (m_args.json)
            record(QJsonObject{{QStringLiteral("code"), d.code},
                               {QStringLiteral("deletedBy"), d.deletedBy},
                               {QStringLiteral("deletedAt"), d.deletedAt},
                               {QStringLiteral("version"), d.last},
                               {QStringLiteral("versions"), d.versions}});
        else
            WriteOut(QStringLiteral("%1\t%2\t%3\t%4\n").arg(d.code, d.deletedBy, d.deletedAt).arg(d.versions));
    }
    return ExitDone;
}

int Runner::undelete() {
    const QString code = m_args.words.value(0);
    if (!gates(QStringLiteral("InLibDrawing")))
        return ExitRefused;
    DrawingHistory history(m_session, transfers());
    const CommandGuard running(m_session, QStringLiteral("恢复已删除图纸"));
    if (auto refused = busy(running))
        return finish(*refused, QJsonObject{{QStringLiteral("code"), code}});
    return finish(history.Undelete(code, m_args.value(QStringLiteral("--comment"))),
                  QJsonObject{{QStringLiteral("code"), code}});
}

// The office's number of versions to keep per drawing (0: all), shown, or set by an administrator.
int Runner::keepVersions() {
    const bool setting = !m_args.words.isEmpty();
    if (setting && !m_session.ctx.isAdministrator())
        return finish(Outcome::refusal(GateText::Administrator));
    qint64 keep = 0;
    const Outcome done = Guarded([&] {
        OfficeSettings settings(m_session.db());
        if (setting)
            settings.setNumber(kKeepVersionsSetting, m_args.words[0].toLongLong());
        keep = settings.number(kKeepVersionsSetting, 0);
        return Outcome::success();
    });
    if (done.done() && !m_args.json)
        WriteOut((keep > 0 ? QStringLiteral("每份图纸保留最近%1版").arg(keep) : QStringLiteral("保留全部版本")) +
                 QLatin1Char('\n'));
    return finish(done, QJsonObject{{QStringLiteral("keepVersions"), keep}});
}

// What each subcommand needs after its name, checked before anything is opened.
QString ArgumentProblem(const CliArgs& a) {
    const QString& c = a.command;
    auto words = [&](qsizetype n) { return a.words.size() == n; };
    if (c == QLatin1String("checkin")) {
        if (a.hasValue(QStringLiteral("--folder")) ? words(0) : words(2))
            return {};
        return QStringLiteral("用法：checkin 代号 文件，或 checkin --folder 文件夹 [--recursive]");
    }
    if (c == QLatin1String("checkout")) {
        if (a.hasValue(QStringLiteral("--where")) ? (words(0) && a.hasValue(QStringLiteral("--to"))) : words(1))
            return {};
        return QStringLiteral("用法：checkout 代号 [--to 文件夹]，或 checkout --where 条件 --to 文件夹 [--by-part]");
    }
    if (c == QLatin1String("import"))
        return words(1)
                   ? QString()
                   : QStringLiteral("用法：import 文件 [--sheet 工作表] [--map 字段=列 ...] [--encoding utf-8|gbk] "
                                    "[--update] [--dry-run]");
    if (c == QLatin1String("export"))
        return words(1) ? QString() : QStringLiteral("用法：export 文件（.xlsx 或 .csv）");
    if (c == QLatin1String("history") || c == QLatin1String("undelete"))
        return words(1) ? QString() : QStringLiteral("用法：%1 代号").arg(c);
    if (c == QLatin1String("restore")) {
        bool number = false;
        a.words.value(1).toLongLong(&number);
        return words(2) && number ? QString() : QStringLiteral("用法：restore 代号 版本号");
    }
    if (c == QLatin1String("keep-versions")) {
        bool number = false;
        const qint64 n = a.words.value(0).toLongLong(&number);
        return words(0) || (words(1) && number && n >= 0) ? QString()
                                                          : QStringLiteral("用法：keep-versions [保留版本数，0为全部]");
    }
    if (c == QLatin1String("deleted"))
        return words(0) ? QString() : QStringLiteral("deleted 不带参数");
    if (c == QLatin1String("delete") || c == QLatin1String("show"))
        return words(1) ? QString() : QStringLiteral("用法：%1 代号").arg(c);
    if (c == QLatin1String("where-used"))
        return words(1) && (!a.hasValue(QStringLiteral("--depth")) || a.value(QStringLiteral("--depth")).toInt() > 0)
                   ? QString()
                   : QStringLiteral("用法：where-used 代号 [--depth 层数]");
    if (c == QLatin1String("find") || c == QLatin1String("log"))
        return words(0) && a.hasValue(QStringLiteral("--where")) ? QString()
                                                                 : QStringLiteral("用法：%1 --where 条件").arg(c);
    if (c == QLatin1String("holds") || c == QLatin1String("admin-record"))
        return words(0) ? QString() : QStringLiteral("%1 不带参数").arg(c);
    if (c == QLatin1String("volume-check"))
        return a.words.size() <= 1 ? QString()
                                   : QStringLiteral("用法：volume-check [存储目录] [--export 文件] [--clean] "
                                                    "[--move-orphans] [--verify [--all-versions]]");
    return {};
}

} // namespace

int Run(const CliArgs& args) {
    auto usage = [](const QString& text) {
        std::fprintf(stderr, "%s\n（velda-cli --help 显示用法）\n", text.toUtf8().constData());
        return int(ExitUsage);
    };
    if (!args.error.isEmpty())
        return usage(args.error);
    if (args.help) {
        WriteOut(HelpText());
        return ExitDone;
    }
    if (args.command.isEmpty())
        return usage(QStringLiteral("缺少子命令"));
    if (!Runner::knows(args.command))
        return usage(QStringLiteral("未知的子命令：%1").arg(args.command));
    if (const QString problem = ArgumentProblem(args); !problem.isEmpty())
        return usage(problem);
    if (args.user.isEmpty() || args.group.isEmpty())
        return usage(QStringLiteral("请用 --user 帐号 和 --group 组名 给出登录帐号与组"));
    if (args.local && !args.server.isEmpty())
        return usage(QStringLiteral("--server 与 --local 只能选一个"));

    QString password;
    if (!args.passwordFile.isEmpty()) {
        const auto read = ReadPasswordFile(args.passwordFile);
        if (!read.password)
            return usage(read.problem);
        password = *read.password;
    } else if (qEnvironmentVariableIsSet("VELDA_PASSWORD")) {
        password = qEnvironmentVariable("VELDA_PASSWORD");
    } else {
        return usage(kNoPassword);
    }

    // The address given on the command line stands in for the configured one for this run, also for
    // the gates that read the configuration.
    const Configuration userConfig;
    const ProgramPaths paths = ProgramPaths::detect(userConfig);
    Configuration config = userConfig;
    QTemporaryDir overrideDir;
    if (args.local || !args.server.isEmpty()) {
        config = Configuration(overrideDir.path() + QStringLiteral("/velda.ini"));
        if (!overrideDir.isValid() ||
            !config.StoreServerAddress(args.local ? Configuration::kLocalWord : args.server)) {
            std::fprintf(stderr, "无法建立临时配置文件\n");
            return ExitFailed;
        }
    }
    const QString address = config.ReadServerAddress();
    if (address.isEmpty())
        return usage(kNoAddress);

    StderrFeedback feedback;
    WallClock clock;
    Session session(feedback, clock, config, paths, VolumeSerialHex(ReadMachineSerial()));
    session.onEndProgram = [](int) {};
    if (!args.database.isEmpty())
        session.serverDatabaseName = args.database;
    try {
        session.connect(address);
        session.ctx.ServerAddress = address;
        const Outcome login = Login(session, args.user, password, args.group);
        if (!ShowOutcome(feedback, login))
            return login.failed() ? ExitFailed : ExitRefused;
    } catch (const Error& e) {
        feedback.message(e.description(), Icon::None, kTitleProgram);
        return ExitFailed;
    }
    AnswerLibraryImpactQuestions();
    Runner runner(args, session, feedback);
    try {
        return runner.dispatch();
    } catch (const Error& e) {
        feedback.stop(e.description());
        return ExitFailed;
    }
}

} // namespace velda::cli
