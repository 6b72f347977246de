#pragma once

#include <QFile>
#include <QString>

#include <cerrno>

namespace velda {

// The download's side of the local disk: where a file lands and why the system refused to write it.
namespace ftp {

// The user's words for errno, the system's own text after them; systemText stands in when error is 0.
QString LocalWriteProblem(int error, const QString& systemText);

// A file that keeps the system's reason for its first refused write: QFile keeps only a text, and
// closing or removing the file clears it.
class LocalFile final : public QFile {
public:
    using QFile::QFile;
    int refusal() const { return m_errno; }
    void noteRefusal(int error) {
        if (m_errno == 0)
            m_errno = error;
    }

protected:
    qint64 writeData(const char* data, qint64 length) override {
        errno = 0;
        const qint64 written = QFile::writeData(data, length);
        if (written != length)
            noteRefusal(errno);
        return written;
    }

private:
    int m_errno = 0;
};

// A download's own file beside its target, moved over the target in one step once complete and
// removed otherwise, so the target is either as it was or the whole file. Unlike QSaveFile it asks
// for no sync to disk: a copy lost to a power cut is fetched again from the library, and a sync
// per file would cost more than the transfer itself.
class PartFile final {
public:
    // direct: the target is already a name nobody else reads; it is written in place, created new.
    PartFile(const QString& target, bool direct);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool open();
    QIODevice* device() { return &m_file; }
    void cancelWriting();
    bool commit();
    // Why the file could not be written; meant once writing has failed.
    QString errorString() const;

private:
    void noteProblem(int error);

    QString m_target;
    LocalFile m_file;
    bool m_direct;
    QString m_problem;
    bool m_created = false;
    bool m_done = false;
};

} // namespace ftp
} // namespace velda
