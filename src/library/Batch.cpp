#include "library/Batch.h"

#include "store/Database.h"
#include "transfer/FtpClient.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

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

void FindAllFile(const QString& folder, bool withSubFolders, QStringList& list,
                 const std::function<bool()>& keepAlive) {
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    int seen = 0;
    auto alive = [&] { return !keepAlive || (++seen % 64) != 0 || keepAlive(); };
    {
        QDirIterator files(path, {QStringLiteral("*.dwg")}, QDir::Files | QDir::Hidden | QDir::System);
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
    QString s =
        QStringLiteral("入库完成，共需入库图纸%1张，有效入库图纸为：%2张！").arg(p.total).arg(p.total - p.rejected);
    if (!p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法入库");
    return s;
}
QString CheckOutSummary(const BatchProgress& p) {
    QString s =
        QStringLiteral("出库完成，共需出库图纸%1张，有效出库数量为：%2张！").arg(p.total).arg(p.total - p.rejected);
    if (!p.rejectedCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.rejectedCodes.chopped(1) + QStringLiteral("因权限问题无法出库");
    if (!p.missingCodes.isEmpty())
        s += QStringLiteral("\r\n图纸") + p.missingCodes.chopped(1) + QStringLiteral("在库中不存在");
    if (!p.heldCopies.isEmpty()) {
        QStringList copies;
        for (const auto& [code, account] : p.heldCopies)
            copies << code + QStringLiteral("（") + account + QStringLiteral("）");
        s += QStringLiteral("\r\n图纸") + copies.join(QLatin1Char('&')) +
             QStringLiteral("此前已被他人出库，仅取得副本，目前可以查看但无权修改");
    }
    return s;
}
} // namespace BatchText

BatchLibrary::BatchLibrary(Session& session, TransferRunner runner, std::shared_ptr<Connections> connections)
    : m_session(session), m_run(std::move(runner)), m_clients(std::move(connections)) {}

BatchLibrary::~BatchLibrary() = default;

int BatchLibrary::filesPerGroup(const Database& db) const {
    if (groupFiles > 0)
        return groupFiles;
    return db.dialect() == Dialect::SQLite ? 32 : 128;
}

} // namespace velda
