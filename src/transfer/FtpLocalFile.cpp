#include "transfer/FtpLocalFile.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velda::ftp {

// Why the system refused to write a local file, in the user's words, the system's own text after
// it for the administrator. Without the cause a full disk read "写入本地文件…失败：Unknown error".
QString LocalWriteProblem(int error, const QString& systemText) {
    QString cause;
    switch (error) {
    case ENOSPC:
        cause = QStringLiteral("磁盘空间不足");
        break;
    case EDQUOT:
        cause = QStringLiteral("超出磁盘配额");
        break;
    case EACCES:
    case EPERM:
        cause = QStringLiteral("没有写入权限");
        break;
    case EROFS:
        cause = QStringLiteral("磁盘为只读，不能写入");
        break;
    case EFBIG:
        cause = QStringLiteral("文件超出系统允许的大小");
        break;
    case EIO:
        cause = QStringLiteral("磁盘读写出错");
        break;
    case ENOENT:
        cause = QStringLiteral("文件夹不存在");
        break;
    case EEXIST:
        cause = QStringLiteral("同名文件已存在");
        break;
    case EISDIR:
        cause = QStringLiteral("这是一个文件夹");
        break;
    case ENAMETOOLONG:
        cause = QStringLiteral("文件名过长");
        break;
    case EMFILE:
    case ENFILE:
        cause = QStringLiteral("打开的文件过多");
        break;
    case EBUSY:
    case ETXTBSY:
        cause = QStringLiteral("文件正被使用");
        break;
    default:
        break;
    }
    const QString detail = error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : systemText;
    if (cause.isEmpty())
        return detail.isEmpty() ? QStringLiteral("原因不明") : detail;
    return QStringLiteral("%1（%2）").arg(cause, detail);
}

PartFile::PartFile(const QString& target, bool direct)
    : m_target(target),
      m_file(direct ? target
                    : QFileInfo(target).absolutePath() + QStringLiteral("/.") + QFileInfo(target).fileName() +
                          QStringLiteral(".down-") + QString::number(QRandomGenerator::global()->generate64(), 36)),
      m_direct(direct) {}

PartFile::~PartFile() {
    if (!m_done)
        cancelWriting();
}

bool PartFile::open() {
    errno = 0;
    m_created = m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    if (!m_created)
        noteProblem(errno);
    return m_created;
}

// Only a file this download created is removed: a name already taken belongs to someone else.
void PartFile::cancelWriting() {
    noteProblem(m_file.refusal());
    m_file.close();
    if (m_created)
        m_file.remove();
    m_done = true;
}

bool PartFile::commit() {
    errno = 0;
    const bool written = m_file.flush();
    if (!written)
        m_file.noteRefusal(errno);
    errno = 0;
    m_file.close();
    if (!written || m_file.error() != QFileDevice::NoError) {
        m_file.noteRefusal(errno);
        cancelWriting();
        return false;
    }
    if (!m_direct &&
        std::rename(QFile::encodeName(m_file.fileName()).constData(), QFile::encodeName(m_target).constData()) != 0) {
        noteProblem(errno);
        cancelWriting();
        return false;
    }
    m_done = true;
    return true;
}

QString PartFile::errorString() const {
    return m_problem.isEmpty() ? LocalWriteProblem(0, m_file.errorString()) : m_problem;
}

// The first reason wins: what a later close or removal says is a consequence.
void PartFile::noteProblem(int error) {
    if (m_problem.isEmpty() && (error != 0 || m_file.error() != QFileDevice::NoError))
        m_problem = LocalWriteProblem(error, m_file.errorString());
}

} // namespace velda::ftp
