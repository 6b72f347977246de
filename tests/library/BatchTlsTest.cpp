// A batch check-in on a volume that speaks TLS when the server's key changes half-way: the later
// connections are refused, the batch names the failing file with both fingerprints, and every
// drawing is either wholly in (its row, its file, found again once the key is accepted) or has no
// row, no log row and nothing under its stored name.
#include "LibraryFixture.h"

#include "library/Batch.h"
#include "transfer/FtpDriver.h"
#include "transfer/Volumes.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <utility>

using namespace velda;
using namespace velda::test;

namespace {

QString PinOf(const QString& certificate) {
    QFile f(certificate);
    return f.open(QIODevice::ReadOnly) ? PublicKeyPin(f.readAll()) : QString();
}

class BatchTls : public LibraryTest {
protected:
    BatchTls() {
        first = MakeTestCertificate(certs.path(), QStringLiteral("first"));
        second = MakeTestCertificate(certs.path(), QStringLiteral("second"));
        ftpServer.tlsCertificate = first.certificate;
        ftpServer.tlsKey = first.key;
        ftpServer.tlsRequired = true; // nothing works unless encrypted
    }
    void SetUp() override {
        LibraryTest::SetUp();
        if (!env || !ftp)
            return;
        env->session->ftpOptions.tls = std::make_shared<FtpTlsTable>();
        InstallVolumeTls(*env->session);
        client = std::make_unique<FtpClient>(env->session->ftpOptions);
    }

    // The server's key replaced in its files, as an administrator does; the test server then ends the
    // sessions secured with the old key once idle, so every later connection meets the new key.
    void replaceServerKey() {
        for (const auto& [from, to] :
             {std::pair{second.certificate, first.certificate}, std::pair{second.key, first.key}}) {
            const QString next = to + QStringLiteral(".next");
            QFile::remove(next);
            ASSERT_TRUE(QFile::copy(from, next));
            ASSERT_EQ(::rename(QFile::encodeName(next).constData(), QFile::encodeName(to).constData()), 0);
        }
    }

    QTemporaryDir certs;
    TestCertificate first, second;
};

TEST_P(BatchTls, AKeyChangedMidBatchStopsItWithNothingHalfStored) {
    QStringList files;
    std::vector<QByteArray> contents;
    for (int i = 0; i < 6; ++i) {
        contents.push_back(QByteArray(50000, char('a' + i)));
        files << drawing(QStringLiteral("in/TLS-%1.dwg").arg(i), contents.back());
    }
    const QString oldPin = PinOf(first.certificate), newPin = PinOf(second.certificate);
    BatchLibrary batch(*env->session, runner());
    batch.groupFiles = 1;
    const BatchResult r = batch.CheckIn(files, [&](int index, const BatchProgress&) {
        if (index == 1) {
            // The transfers under way (the next file's upload, this one's moves) end on the old key
            // first: the server ends the old key's sessions only while none of them is busy, and one
            // ended mid-request would stop the batch as a broken connection, not as a changed key.
            QThread::msleep(500);
            replaceServerKey();
            QThread::msleep(1000);
        }
        return true;
    });
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_TRUE(r.outcome.text.contains(oldPin)) << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.contains(newPin)) << r.outcome.text.toStdString();
    EXPECT_TRUE(r.outcome.text.contains(QStringLiteral("TLS-%1.dwg").arg(r.progress.processed)))
        << "the batch names the file it stopped at";
    EXPECT_LT(r.progress.processed, 6);

    // Once the administrator accepts the new key, what got in is all there, byte for byte; what did
    // not left no row, no log row and no file.
    const QString key = TlsVolumeOf(ftp->address(), QStringLiteral("V1"));
    env->session->ftpOptions.tls->set(key, {FtpTlsMode::Prefer, newPin});
    int in = 0;
    for (int i = 0; i < 6; ++i) {
        const QString code = QStringLiteral("TLS-%1").arg(i);
        const bool recorded = rows(QStringLiteral("PDM入库图纸信息"), QStringLiteral("代号=?"), {code}) == 1;
        EXPECT_EQ(recorded, i < r.progress.processed) << code.toStdString();
        if (recorded) {
            ++in;
            ASSERT_TRUE(library().Recover(code).done()) << code.toStdString();
            EXPECT_EQ(stored(QStringLiteral("Volume/V1/") + column(code, QStringLiteral("入库文件名称"))),
                      contents[size_t(i)]);
        } else {
            EXPECT_EQ(rows(QStringLiteral("PDM日志"), QStringLiteral("代号=?"), {code}), 0);
            // An upload the batch could no longer remove stays staged, named by no row, for the
            // volume check's clean-up; the stored name is untouched.
            for (const QString& name : volumeFiles(QStringLiteral("V1")))
                EXPECT_FALSE(name.contains(code) && !name.contains(QStringLiteral(".new-"))) << name.toStdString();
        }
    }
    EXPECT_GE(in, 2) << "the key changed after the second file";
}

INSTANTIATE_TEST_SUITE_P(Db, BatchTls, kBothBackends, BackendName);

// A server that speaks TLS 1.3 and nothing older takes a batch check-in whole: every drawing's
// stored file has the SHA-256 of what was checked in.
class BatchTls13 : public BatchTls {
protected:
    BatchTls13() { ftpServer.tls13Only = true; }
};

TEST_P(BatchTls13, ABatchCheckInArrivesWhole) {
    QStringList files;
    std::vector<QByteArray> contents;
    for (int i = 0; i < 16; ++i) {
        QByteArray bytes(300 * 1024, Qt::Uninitialized);
        for (char& c : bytes)
            c = char(QRandomGenerator::global()->generate());
        contents.push_back(bytes);
        files << drawing(QStringLiteral("in/T13-%1.dwg").arg(i), bytes);
    }
    BatchLibrary batch(*env->session, runner());
    const BatchResult r = batch.CheckIn(files, [](int, const BatchProgress&) { return true; });
    ASSERT_FALSE(r.outcome.failed()) << r.outcome.text.toStdString();
    const auto sha = [](const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256); };
    for (int i = 0; i < 16; ++i) {
        const QString code = QStringLiteral("T13-%1").arg(i);
        EXPECT_EQ(sha(stored(QStringLiteral("Volume/V1/") + column(code, QStringLiteral("入库文件名称")))),
                  sha(contents[size_t(i)]))
            << code.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Db, BatchTls13, kBothBackends, BackendName);

} // namespace
