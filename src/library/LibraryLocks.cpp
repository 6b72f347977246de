#include "library/LibraryLocks.h"

#include "store/Database.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>

#include <sys/stat.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velda {

namespace {

QString ArrayText(const std::vector<qint64>& numbers) {
    QStringList parts;
    for (qint64 n : numbers)
        parts << QString::number(n);
    return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString LockFolder(const Database& db) { return db.spec().filePath + QStringLiteral(".reservations"); }

QString KeyFile(const Database& db, const QString& key) {
    return db.spec().filePath + QStringLiteral(".locks/") +
           QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex()) +
           QStringLiteral(".lock");
}

// Opens and locks the key's file. A file is removed by whoever lets go of it last, so the lock taken
// counts only when the name still leads to the file locked; otherwise it was a removed one, and the
// next try takes the new file.
int LockKeyFile(const QString& path, int how) {
    const QByteArray name = QFile::encodeName(path);
    for (;;) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            throw Error(QStringLiteral("无法写入锁文件%1").arg(path));
        if (::flock(fd, how) != 0) {
            ::close(fd);
            return -1;
        }
        struct stat held = {};
        struct stat named = {};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
}

} // namespace

ReservedNumbers::ReservedNumbers(Database& db, std::vector<qint64> numbers) : m_db(db), m_numbers(std::move(numbers)) {
    if (m_numbers.empty())
        return;
    if (m_db.dialect() == Dialect::PostgreSQL) {
        m_db.exec(QStringLiteral("select count(pg_advisory_lock(n)) from unnest(?::bigint[]) n"),
                  {ArrayText(m_numbers)});
        return;
    }
    // Written under a private name, locked, and only then given the name others look for: a file they
    // find is always locked while its batch lives.
    const QString folder = LockFolder(m_db);
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("无法建立文件夹%1，批量入库无法预留日志序号").arg(folder));
    const QString stem = folder + QLatin1Char('/') + QString::number(::getpid()) + QLatin1Char('-') +
                         QString::number(QRandomGenerator::system()->generate64(), 36);
    const QString draft = stem + QStringLiteral(".new");
    m_fd = ::open(QFile::encodeName(draft).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0)
        throw Error(QStringLiteral("无法写入文件%1，批量入库无法预留日志序号").arg(draft));
    QByteArray text;
    for (qint64 n : m_numbers)
        text += QByteArray::number(n) + '\n';
    const bool written =
        ::flock(m_fd, LOCK_EX) == 0 && ::write(m_fd, text.constData(), size_t(text.size())) == ssize_t(text.size());
    m_file = stem + QStringLiteral(".lock");
    if (!written || ::rename(QFile::encodeName(draft).constData(), QFile::encodeName(m_file).constData()) != 0) {
        ::unlink(QFile::encodeName(draft).constData());
        ::close(m_fd);
        m_fd = -1;
        throw Error(QStringLiteral("无法写入文件%1，批量入库无法预留日志序号").arg(draft));
    }
}

ReservedNumbers::~ReservedNumbers() {
    if (m_numbers.empty())
        return;
    if (m_db.dialect() == Dialect::PostgreSQL) {
        try {
            m_db.exec(QStringLiteral("select count(pg_advisory_unlock(n)) from unnest(?::bigint[]) n"),
                      {ArrayText(m_numbers)});
        } catch (const Error&) {
            // A connection that is gone took its locks with it.
        }
        return;
    }
    if (m_fd >= 0) {
        // Removed while still locked, so nobody takes a finished reservation for a live one.
        ::unlink(QFile::encodeName(m_file).constData());
        ::close(m_fd);
    }
}

bool ReservedNumbers::held(Database& db, qint64 number) {
    if (db.dialect() == Dialect::PostgreSQL) {
        if (!db.scalar(QStringLiteral("select pg_try_advisory_lock(?::bigint)"), {number}).toBool())
            return true;
        db.exec(QStringLiteral("select pg_advisory_unlock(?::bigint)"), {number});
        return false;
    }
    const QDir folder(LockFolder(db));
    for (const QString& name : folder.entryList({QStringLiteral("*.lock")}, QDir::Files)) {
        const QString path = folder.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue; // finished meanwhile
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            // Its batch ended without clearing up (it was killed): nothing of it is wanted.
            ::unlink(QFile::encodeName(path).constData());
            ::close(fd);
            continue;
        }
        QFile file;
        bool found = false;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            const QByteArray want = QByteArray::number(number);
            for (const QByteArray& line : file.readAll().split('\n'))
                found = found || line == want;
        } else {
            ::close(fd);
        }
        if (found)
            return true;
    }
    return false;
}

LocalKeyLocks::LocalKeyLocks(const Database& db, const QStringList& keys) {
    if (keys.isEmpty())
        return;
    const QString folder = db.spec().filePath + QStringLiteral(".locks");
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("无法建立文件夹%1").arg(folder));
    for (const QString& key : keys) {
        const QString path = KeyFile(db, key);
        const int fd = LockKeyFile(path, LOCK_EX);
        if (fd < 0)
            throw Error(QStringLiteral("无法锁定文件%1").arg(path));
        m_held.push_back({fd, path});
    }
}

LocalKeyLocks::~LocalKeyLocks() {
    for (auto it = m_held.rbegin(); it != m_held.rend(); ++it) {
        // Removed while locked: whoever waits on it finds it gone and takes a new one.
        ::unlink(QFile::encodeName(it->path).constData());
        ::close(it->fd);
    }
}

bool LocalKeyLocks::free(const Database& db, const QString& key) {
    const QString path = KeyFile(db, key);
    if (!QFileInfo::exists(path))
        return true;
    const int fd = LockKeyFile(path, LOCK_EX | LOCK_NB);
    if (fd < 0)
        return false;
    ::unlink(QFile::encodeName(path).constData());
    ::close(fd);
    return true;
}

} // namespace velda
