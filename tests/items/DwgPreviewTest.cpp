#include "TestSupport.h"

#include "DwgSamples.h"
#include "items/DwgPreview.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

using namespace velda;
using namespace velda::test;

namespace {

DwgPreviewResult readBytes(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return ReadDwgPreview(buffer);
}

QImage decoded(const DwgPreviewResult& r) {
    return QImage::fromData(r.picture.data, r.picture.format == DwgPicture::Format::Png ? "PNG" : "BMP");
}

void expectPicture(const DwgPreviewResult& r, int width, int height, const char* what) {
    ASSERT_TRUE(r.found()) << what << ": " << r.reason().toStdString();
    const QImage img = decoded(r);
    ASSERT_FALSE(img.isNull()) << what;
    ASSERT_EQ(img.size(), QSize(width, height)) << what;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(img.pixel(x, y) | 0xFF000000u, expected(x, y, width)) << what << " at " << x << "," << y;
}

// A file that counts the bytes it hands out, to see how much of a drawing the reader touches.
class CountingFile final : public QFile {
public:
    using QFile::QFile;
    qint64 bytesRead = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 n = QFile::readData(data, maxSize);
        if (n > 0)
            bytesRead += n;
        return n;
    }
};

} // namespace

TEST(DwgPreview, EachVersionFamilyFindsTheStoredBitmap) {
    struct Family {
        const char* version;
        qint64 blockAt;
        qint64 pageHeader;
    };
    // R13–R2000 raw at the pointer; R2004 and later after their page's 32-byte header (the pointer
    // already skips it); R2007 at its address. The block is not always at 0x1C0.
    const Family families[] = {{"AC1012", 0x1C0, 0},  {"AC1014", 0x200, 0}, {"AC1015", 0x1C0, 0},
                               {"AC1018", 0x1C0, 32}, {"AC1021", 0x480, 0}, {"AC1024", 0x2E0, 32},
                               {"AC1027", 0x1C0, 32}, {"AC1032", 0x940, 32}};
    for (const Family& f : families) {
        DwgMaker m;
        m.version = f.version;
        m.blockAt = f.blockAt;
        m.pageHeader = f.pageHeader;
        m.images = {{1, QByteArray(80, '\x01')}, {2, dib(8)}};
        const DwgPreviewResult r = readBytes(m.make());
        EXPECT_EQ(r.version, QString::fromLatin1(f.version));
        EXPECT_EQ(r.picture.format, DwgPicture::Format::Bmp) << f.version;
        expectPicture(r, 4, 2, f.version);
    }
}

TEST(DwgPreview, ASampleDrawingGivesBackItsBitmapPixelForPixel) {
    for (const int width : {4, 5}) {
        const DwgPreviewResult r = readBytes(SampleDrawingWithBitmap(dib(24, false, false, width, 2)));
        EXPECT_EQ(r.version, QStringLiteral("AC1018"));
        expectPicture(r, width, 2, width == 4 ? "sample" : "sample, padded rows");
    }
}

TEST(DwgPreview, BitmapKindsDecodeToTheSamePixels) {
    struct Kind {
        const char* name;
        QByteArray data;
    };
    const Kind kinds[] = {{"8-bit with palette", dib(8)},
                          {"8-bit, three colours used", dib(8, false, false, 4, 2, 3)},
                          {"24-bit", dib(24)},
                          {"24-bit, odd width padded", dib(24, false, false, 5, 2)},
                          {"32-bit", dib(32)},
                          {"32-bit with bit fields", dib(32, false, true)},
                          {"top-down rows", dib(24, true)}};
    for (const Kind& k : kinds) {
        DwgMaker m;
        m.images = {{2, k.data}};
        const int width = k.data.size() > 4 ? int(quint8(k.data[4])) : 0;
        expectPicture(readBytes(m.make()), width, 2, k.name);
    }
}

TEST(DwgPreview, PngIsPreferredAndOtherwiseTheLargestBitmap) {
    DwgMaker m;
    m.version = "AC1032";
    m.pageHeader = 32;
    m.images = {{1, QByteArray(80, '\x01')}, {2, dib(24)}, {6, png(6)}, {3, QByteArray(100, 'w')}};
    DwgPreviewResult r = readBytes(m.make());
    EXPECT_EQ(r.picture.format, DwgPicture::Format::Png);
    expectPicture(r, 6, 2, "png beside a bitmap");

    m.images = {{2, dib(24, false, false, 2, 2)}, {2, dib(24, false, false, 8, 2)}, {2, dib(24)}};
    r = readBytes(m.make());
    expectPicture(r, 8, 2, "largest of three bitmaps");

    // A metafile alone is no picture we show.
    m.images = {{1, QByteArray(80, '\x01')}, {3, QByteArray(100, 'w')}};
    EXPECT_EQ(readBytes(m.make()).status, DwgPreviewStatus::NoPreview);
}

TEST(DwgPreview, AMissedPointerFallsBackToTheSentinel) {
    DwgMaker m;
    m.images = {{2, dib(8)}};
    m.pointerDelta = 7; // not at a sentinel
    expectPicture(readBytes(m.make()), 4, 2, "pointer beside the block");
    m.pointerDelta = 0x7FFFFFF0; // past the end
    expectPicture(readBytes(m.make()), 4, 2, "pointer past the end");

    // No sentinel anywhere: no picture.
    QByteArray none = m.make();
    none.replace(QByteArray(reinterpret_cast<const char*>(kDwgPictureStart.data()), 16), QByteArray(16, 'x'));
    EXPECT_EQ(readBytes(none).status, DwgPreviewStatus::NoPreview);
}

TEST(DwgPreview, DamagedBlocksGiveNoPicture) {
    DwgMaker good;
    good.images = {{2, dib(8)}};
    ASSERT_TRUE(readBytes(good.make()).found());

    DwgMaker noEntries = good;
    noEntries.images.clear();
    EXPECT_EQ(readBytes(noEntries.make()).status, DwgPreviewStatus::NoPreview);

    struct Case {
        const char* name;
        DwgMaker maker;
    };
    QList<Case> cases;
    auto add = [&](const char* name, auto&& spoil) {
        DwgMaker m = good;
        spoil(m);
        cases.push_back({name, m});
    };
    add("entry runs past the end", [](DwgMaker& m) { m.firstSizeDelta = 0x10000000; });
    add("entry starts past the end", [](DwgMaker& m) { m.firstStartDelta = 0x70000000; });
    add("entry starts inside the table", [](DwgMaker& m) { m.firstStartDelta = -9; });
    add("overall size too large", [](DwgMaker& m) { m.overallDelta = 5; });
    add("overall size too small", [](DwgMaker& m) { m.overallDelta = -5; });
    add("overall size beyond the file", [](DwgMaker& m) { m.overallDelta = 0x7FFF0000; });
    add("end sentinel missing", [](DwgMaker& m) { m.endSentinel = false; });
    for (const Case& c : cases) {
        const DwgPreviewResult r = readBytes(c.maker.make());
        EXPECT_EQ(r.status, DwgPreviewStatus::Damaged) << c.name;
        EXPECT_TRUE(r.picture.data.isEmpty()) << c.name;
    }

    // A bitmap whose header promises more rows than it holds, or nonsense, is not decoded.
    DwgMaker shortRows = good;
    shortRows.images = {{2, dib(24).left(40 + 16)}};
    EXPECT_EQ(readBytes(shortRows.make()).status, DwgPreviewStatus::Damaged);
    DwgMaker badHeader = good;
    QByteArray bad = dib(24);
    PutLe32(bad, 0, 12); // an info header of 12 bytes does not exist in these files
    badHeader.images = {{2, bad}};
    EXPECT_EQ(readBytes(badHeader.make()).status, DwgPreviewStatus::Damaged);
    DwgMaker notPng = good;
    notPng.images = {{6, QByteArray("this is no png at all")}};
    EXPECT_EQ(readBytes(notPng.make()).status, DwgPreviewStatus::Damaged);

    // Every prefix of a good file: never a crash, never a picture from bytes that are not there.
    const QByteArray whole = good.make();
    for (qsizetype n = 0; n < whole.size() - 64; ++n)
        EXPECT_FALSE(readBytes(whole.left(n)).found()) << n;
}

TEST(DwgPreview, FilesThatHoldNoPictureSayWhy) {
    DwgMaker old;
    old.version = "AC1009";
    old.images = {{2, dib(8)}};
    DwgPreviewResult r = readBytes(old.make());
    EXPECT_EQ(r.status, DwgPreviewStatus::OldVersion);
    EXPECT_TRUE(r.reason().contains(QStringLiteral("AC1009")));

    DwgMaker locked;
    locked.version = "AC1018";
    locked.pageHeader = 32;
    locked.encrypted = true;
    locked.images = {{2, dib(8)}};
    EXPECT_EQ(readBytes(locked.make()).status, DwgPreviewStatus::Encrypted);

    EXPECT_EQ(readBytes(QByteArray()).status, DwgPreviewStatus::NotDrawing);
    EXPECT_EQ(readBytes(QByteArray("零件清单\n代号,名称\n")).status, DwgPreviewStatus::NotDrawing);
    EXPECT_EQ(readBytes(QByteArray("AC10")).status, DwgPreviewStatus::NotDrawing);
    EXPECT_EQ(ReadDwgPreview(QStringLiteral("/nonexistent/x.dwg")).status, DwgPreviewStatus::Unreadable);

    for (auto s : {DwgPreviewStatus::Unreadable, DwgPreviewStatus::NotDrawing, DwgPreviewStatus::Encrypted,
                   DwgPreviewStatus::NoPreview, DwgPreviewStatus::Damaged}) {
        DwgPreviewResult x;
        x.status = s;
        EXPECT_FALSE(x.reason().isEmpty());
    }
}

TEST(DwgPreview, ALargeDrawingIsNotReadWhole) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/big.dwg");
    constexpr qint64 kSize = 200LL * 1024 * 1024;
    DwgMaker m;
    m.version = "AC1032";
    m.pageHeader = 32;
    m.images = {{2, dib(24)}};
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(m.make());
        ASSERT_TRUE(f.resize(kSize)); // the rest of the drawing, sparse on disk
    }
    CountingFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    expectPicture(ReadDwgPreview(file), 4, 2, "200 MB drawing");
    EXPECT_LT(file.bytesRead, 1024 * 1024);

    // With the pointer spoiled and no sentinel, the search stops early instead of reading 200 MB.
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(m.blockAt);
        f.write(QByteArray(16, 'x'));
    }
    CountingFile spoiled(path);
    ASSERT_TRUE(spoiled.open(QIODevice::ReadOnly));
    EXPECT_EQ(ReadDwgPreview(spoiled).status, DwgPreviewStatus::NoPreview);
    EXPECT_LE(spoiled.bytesRead, kDwgSentinelSearchLimit + 1024 * 1024);
}

TEST(DwgPreview, TheCommandLineToolWritesPngOrSaysWhyNot) {
    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.path() + QLatin1Char('/') + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    auto run = [](const QStringList& args, QString* err) {
        QProcess p;
        p.start(QStringLiteral(VELDA_PREVIEW_TOOL), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    };
    DwgMaker m;
    m.version = "AC1027";
    m.pageHeader = 32;
    m.images = {{2, dib(32)}};
    const QString out = dir.path() + QStringLiteral("/图片.png");
    QString err;
    EXPECT_EQ(run({write(QStringLiteral("零件 1.dwg"), m.make()), out}, &err), 0) << err.toStdString();
    const QImage written(out, "PNG");
    ASSERT_EQ(written.size(), QSize(4, 2));
    EXPECT_EQ(written.pixel(3, 0) | 0xFF000000u, qRgb(0, 0, 220));

    const QString text = write(QStringLiteral("list.dwg"), "not a drawing\n");
    const QString none = dir.path() + QStringLiteral("/none.png");
    EXPECT_EQ(run({text, none}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("不是图纸文件"))) << err.toStdString();
    EXPECT_FALSE(QFile::exists(none));

    m.encrypted = true;
    EXPECT_EQ(run({write(QStringLiteral("locked.dwg"), m.make()), none}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("加密"))) << err.toStdString();
    EXPECT_EQ(run({text}, &err), 2);
}
