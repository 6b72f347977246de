#include "library/BatchCheckInGroup.h"

#include "accounts/Acl.h"
#include "core/ActivityLog.h"
#include "library/LibraryRows.h"
#include "library/LibraryStore.h"
#include "store/Database.h"
#include "transfer/TransferCommand.h"

#include <algorithm>

namespace velda {
namespace batch {

QHash<QString, VersionRow> OwnFiles(const LibraryStore& store, QHash<QString, VersionRow> versions) {
    QHash<QString, QStringList> namesOn; // volume -> stored names
    for (const VersionRow& v : versions)
        namesOn[v.volume] << v.storedName;
    QHash<QString, QHash<QString, QStringList>> codesOn;
    for (auto it = namesOn.cbegin(); it != namesOn.cend(); ++it)
        codesOn.insert(it.key(), store.codesOfFiles(it.key(), it.value()));
    for (auto it = versions.begin(); it != versions.end();) {
        const QStringList codes = codesOn.value(it->volume).value(it->storedName);
        const bool other = std::any_of(codes.begin(), codes.end(), [&](const QString& c) { return c != it.key(); });
        it = other ? versions.erase(it) : std::next(it);
    }
    return versions;
}

std::optional<CheckInGroup> CheckInGroup::plan(InBatch& b, const QSet<QString>& busy) {
    QStringList someCodes, someNames;
    QSet<QString> seen;
    for (int at = b.next; at < int(b.codes.size()) && at - b.next < b.perGroup; ++at) {
        const QString& code = b.codes[at];
        const QString name = StoredFileName(b.today, code);
        if (seen.contains(code) || seen.contains(name) || busy.contains(code) || busy.contains(name))
            break;
        seen << code << name;
        someCodes << code;
        someNames << name;
    }
    if (someCodes.isEmpty())
        return std::nullopt;
    CheckInGroup g(b);
    g.planFiles(someCodes, someNames);
    g.reserveAndUpload();
    return g;
}

void CheckInGroup::planFiles(const QStringList& someCodes, const QStringList& someNames) {
    QHash<QString, StoredDrawing> rowsOf;
    QHash<QString, Holder> holds;
    QHash<QString, QStringList> named;
    QHash<QString, qint64> numbers;
    Database& db = m_b->db;
    const Outcome read = Guarded([&] {
        const LibraryStore store(db);
        rowsOf = store.readDrawings(someCodes);
        holds = store.holdersOf(someCodes);
        named = store.codesOfFiles(m_b->ctx.VolumeName, someNames);
        QStringList stored;
        for (const QString& c : someCodes)
            if (rowsOf.value(c).volumeKnown)
                stored << c;
        if (!stored.isEmpty())
            numbers = lastCheckIns(db, stored);
        return Outcome::success();
    });
    qint64 bytes = 0;
    for (int k = 0; k < int(someCodes.size()); ++k) {
        if (!m_files.empty() && bytes >= m_b->groupBytes)
            break;
        const QString& code = someCodes[k];
        File f;
        if (!read.done()) {
            f.index = m_b->next;
            f.name = someNames[k];
            f.early = read;
        } else {
            f = planFile(code, someNames[k], rowsOf[code], holds.value(code), named.value(someNames[k]));
            if (f.steps)
                f.steps->plannedAfter(numbers.value(code));
        }
        if (f.steps)
            bytes += f.steps->fileSize();
        m_names << code << f.name;
        m_planFailed = f.early && f.early->failed();
        m_files.push_back(std::move(f));
        ++m_b->next;
        if (m_planFailed)
            break;
    }
}

CheckInGroup::File CheckInGroup::planFile(const QString& code, const QString& name, const StoredDrawing& d,
                                          const Holder& holder, const QStringList& named) {
    UserContext& ctx = m_b->ctx;
    const int i = m_b->next;
    File f;
    f.index = i;
    f.name = name;
    if (d.exists && !Acl::Grants(d.write, ctx)) {
        f.early = Outcome::refusal(LibraryText::NoWriteRight);
        return f;
    }
    // Stored drawings keep their lists; new ones take what the user composed, if anything.
    if (m_b->pendingRights) {
        // The lists the user edited in the dialog stand.
    } else if (d.exists) {
        Acl::SetPending(ctx, d.read, d.write, d.del, d.change);
    } else {
        const QString list = Acl::DefaultList(ctx.UserId, ctx.LoginGroup);
        Acl::SetPending(ctx, list, list, list, list);
        const QStringList& composed = m_b->composed;
        if (composed.size() == 4)
            Acl::SetPending(ctx, composed[0], composed[1], composed[2], composed[3]);
    }
    if (std::optional<Outcome> no = CheckInSteps::refuseFirst(ctx, code, m_b->files[i])) {
        f.early = no;
        return f;
    }
    f.steps = std::make_unique<CheckInSteps>(m_b->session, ctx, code, m_b->files[i], m_b->comment);
    if (!m_b->keepVersions)
        f.steps->keepNoVersions();
    QString other;
    for (const QString& c : named)
        if (c != code) {
            other = c;
            break;
        }
    if (std::optional<Outcome> no = f.steps->plan(holder, d, other)) {
        f.early = no;
        f.steps.reset();
        return f;
    }
    if (f.steps->replacesFile() && m_b->keepVersions) {
        auto asked = m_b->historyFolders.find(d.volume);
        if (asked == m_b->historyFolders.end()) {
            const QString url = VolumeUrl(ctx.AdminPassword, d.server);
            asked = m_b->historyFolders.insert(d.volume, m_b->now([&](FtpClient& c, const TransferProgress&) {
                return ProbeHistoryFolder(c, url, d.volume);
            }));
        }
        if (!*asked) {
            f.early = Outcome::failure(asked->message);
            f.steps.reset();
            return f;
        }
        f.steps->historyProbed(d.volume);
    }
    return f;
}

void CheckInGroup::reserveAndUpload() {
    // Numbers for the log rows of its files, in file order, so that each uploads straight under
    // its staged name. Without them the staged files take names of their own and are numbered once
    // recorded.
    std::vector<CheckInSteps*> toUpload;
    for (File& f : m_files)
        if (f.steps)
            toUpload.push_back(f.steps.get());
    std::vector<qint64> reserved;
    if (Guarded([&] {
            reserved = ReserveLogNumbers(m_b->db, int(toUpload.size()));
            m_reservation = std::make_unique<ReservedNumbers>(m_b->db, reserved);
            return Outcome::success();
        }).done())
        for (size_t k = 0; k < toUpload.size(); ++k)
            toUpload[k]->reserve(reserved[k]);
    std::vector<TransferOperation> operations;
    for (File& f : m_files)
        if (f.steps) {
            f.upload = int(operations.size());
            operations.push_back(
                [s = f.steps.get()](FtpClient& c, const TransferProgress& p) { return s->upload(c, p); });
        }
    m_uploads.start(m_b->pool, std::move(operations));
}

void CheckInGroup::drop() {
    m_uploads.stop(m_b->pool, m_b->run);
    std::vector<TransferOperation> operations;
    for (File& f : m_files)
        if (m_uploads.ok(f.upload))
            operations.push_back([s = f.steps.get()](FtpClient& c, const TransferProgress&) { return s->discard(c); });
    m_b->pool.wait(m_b->run, m_b->pool.submit(std::move(operations), true, false));
}

} // namespace batch
} // namespace velda
