#include "transfer/FtpReply.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>

namespace velda {

QString FtpExchange::lastLine() const { return QString::fromUtf8(reply.split('\n').last()); }

bool IsFinalReplyLine(const QByteArray& line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
           (line.size() == 3 || line[3] == ' ');
}

void FtpDialogue::outgoing(const char* data, size_t size) {
    // Only the line end goes: a path may end in a blank, and replies are matched by the exact text.
    QByteArray line(data, qsizetype(size));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("PASS "))
        line = "PASS ***";
    if (trace)
        std::fprintf(stderr, "ftp> %s\n", line.constData());
    m_exchanges.push_back(FtpExchange{line, 0, {}, false});
}

void FtpDialogue::incoming(const char* data, size_t size) {
    m_partial.append(data, qsizetype(size));
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        const QByteArray line = m_partial.left(end).trimmed();
        m_partial.remove(0, end + 1);
        addLine(line);
    }
}

const FtpExchange* FtpDialogue::replyTo(const QByteArray& command) const {
    for (auto it = m_exchanges.rbegin(); it != m_exchanges.rend(); ++it) {
        if (it->command == command)
            return it->complete ? &*it : nullptr;
    }
    return nullptr;
}

QString FtpDialogue::lastRefusal() const {
    for (auto it = m_exchanges.rbegin(); it != m_exchanges.rend(); ++it) {
        if (it->complete && it->code >= 400)
            return it->lastLine();
    }
    return {};
}

bool FtpDialogue::outOfStep() const {
    // The positive replies each command can get; any refusal (4xx, 5xx) may answer any command.
    struct Expect {
        const char* verb;
        std::initializer_list<int> codes;
    };
    static const Expect expected[] = {
        {"USER", {230, 331, 332}},
        {"PASS", {202, 230}},
        {"PWD", {257}},
        {"CWD", {200, 250}},
        {"TYPE", {200}},
        {"PASV", {227}},
        {"EPSV", {229}},
        {"SIZE", {213}},
        {"MDTM", {213}},
        {"MLST", {250}},
        {"RNFR", {350}},
        {"RNTO", {200, 250}},
        {"DELE", {200, 250}},
        {"RMD", {200, 250}},
        {"MKD", {250, 257}},
        {"NOOP", {200}},
        {"STOR", {125, 150, 226, 250}},
        {"RETR", {125, 150, 226, 250}},
        {"NLST", {125, 150, 226, 250}},
        {"LIST", {125, 150, 226, 250}},
        {"MLSD", {125, 150, 226, 250}},
        {"APPE", {125, 150, 226, 250}},
    };
    // Commands every server understands: "not understood" means the line did not arrive as sent.
    static const char* const universal[] = {"USER", "PASS", "PWD",  "CWD", "TYPE", "PASV", "STOR", "RETR",
                                            "NLST", "LIST", "DELE", "RMD", "MKD",  "RNFR", "RNTO", "NOOP"};
    for (const FtpExchange& e : m_exchanges) {
        if (!e.complete || e.command.isEmpty())
            continue;
        const QByteArray verb = e.command.split(' ').first().toUpper();
        if (e.code == 500) {
            for (const char* v : universal) {
                if (verb == v)
                    return true;
            }
            continue;
        }
        if (e.code >= 400)
            continue;
        for (const Expect& x : expected) {
            if (verb == x.verb && std::find(x.codes.begin(), x.codes.end(), e.code) == x.codes.end())
                return true;
        }
    }
    return false;
}

void FtpDialogue::addLine(const QByteArray& line) {
    m_heard = true;
    if (trace)
        std::fprintf(stderr, "ftp< %s\n", line.constData());
    if (m_exchanges.empty() || (m_exchanges.back().complete && m_exchanges.back().code >= 200))
        m_exchanges.push_back(FtpExchange{});
    FtpExchange& current = m_exchanges.back();
    if (current.complete) {
        // A preliminary 1xx reply is followed by the final one to the same command.
        current.complete = false;
        current.reply.clear();
    }
    if (!current.reply.isEmpty())
        current.reply.append('\n');
    current.reply.append(line);
    if (IsFinalReplyLine(line)) {
        current.code = line.left(3).toInt();
        current.complete = true;
    }
}

std::optional<qint64> ParseSizeReply(const QString& line) {
    if (!line.startsWith(QStringLiteral("213")))
        return std::nullopt;
    bool ok = false;
    const qint64 bytes = line.mid(4).trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return bytes;
}

QByteArray ParsePwdReply(const QByteArray& line) {
    if (!line.startsWith("257 \""))
        return {};
    QByteArray folder;
    for (qsizetype i = 5; i < line.size(); ++i) {
        if (line[i] != '"') {
            folder += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            folder += '"'; // a quote inside the name comes doubled
            ++i;
        } else {
            return folder;
        }
    }
    return {}; // no closing quote: not a name to go back to
}

RemoteKind ParseMlstReply(int code, const QByteArray& reply) {
    if (code == kFtpActionDone) {
        RemoteKind kind = RemoteKind::File;
        const QByteArrayList lines = reply.split('\n');
        for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
            const QByteArray facts = lines[i].left(lines[i].indexOf(' '));
            for (const QByteArray& fact : facts.split(';')) {
                const QByteArray lower = fact.toLower();
                if (lower == "type=dir" || lower == "type=cdir" || lower == "type=pdir")
                    kind = RemoteKind::Folder;
            }
        }
        return kind;
    }
    if (code == 550 || code == 450)
        return RemoteKind::Absent;
    return RemoteKind::Unknown;
}

QStringList NameListNames(const QByteArray& listing) {
    QStringList names;
    for (const QByteArray& line : listing.split('\n')) {
        const QByteArray entry = line.trimmed();
        if (!entry.isEmpty())
            names << QString::fromUtf8(entry.mid(entry.lastIndexOf('/') + 1));
    }
    return names;
}

bool NameListHolds(const QByteArray& listing, const QString& name) { return NameListNames(listing).contains(name); }

} // namespace velda
