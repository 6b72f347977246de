#include "items/DwgPreview.h"

#include "items/DwgSample.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace velda {

namespace {

// The same markers the sample writer puts around the picture block.
constexpr const auto& kStartSentinel = kDwgPictureStart;
constexpr const auto& kEndSentinel = kDwgPictureEnd;

constexpr qint64 kPointerOffset = 0x0D;
constexpr qint64 kSecurityFlagsOffset = 0x18;
constexpr unsigned char kEncryptedBit = 0x02;
constexpr qint64 kHeaderBytes = 0x19;

constexpr unsigned char kCodeBmp = DwgEntry::Bitmap;
constexpr unsigned char kCodePng = DwgEntry::Png;

constexpr qint64 kInfoHeaderMin = 40;
constexpr int kBiBitfields = 3;
constexpr qint64 kMaxSide = 16384;

const char* const kVersions[] = {"AC1012", "AC1014", "AC1015", "AC1018", "AC1021", "AC1024", "AC1027", "AC1032"};

quint32 u32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return quint32(b[0]) | (quint32(b[1]) << 8) | (quint32(b[2]) << 16) | (quint32(b[3]) << 24);
}
quint16 u16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return quint16(b[0] | (b[1] << 8));
}
qint32 s32(const char* p) { return static_cast<qint32>(u32(p)); }

void put32(QByteArray& out, quint32 v) {
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

bool equals(const QByteArray& bytes, qint64 at, const std::array<unsigned char, 16>& sentinel) {
    return at >= 0 && at + 16 <= bytes.size() && std::memcmp(bytes.constData() + at, sentinel.data(), 16) == 0;
}

// Exactly `length` bytes at `offset`, or an empty array when the file has fewer there.
QByteArray readAt(QIODevice& device, qint64 offset, qint64 length) {
    if (offset < 0 || length <= 0 || offset > device.size() || length > device.size() - offset)
        return {};
    if (!device.seek(offset))
        return {};
    QByteArray out = device.read(length);
    return out.size() == length ? out : QByteArray();
}

// The first start sentinel in the leading part of the file, read a piece at a time; -1 when none.
qint64 searchSentinel(QIODevice& device) {
    constexpr qint64 kChunk = 1024 * 1024;
    const qint64 end = std::min(device.size(), kDwgSentinelSearchLimit);
    const QByteArray needle(reinterpret_cast<const char*>(kStartSentinel.data()), 16);
    qint64 pos = 0;
    while (pos + 16 <= end) {
        const qint64 length = std::min(kChunk + 15, end - pos);
        const QByteArray chunk = readAt(device, pos, length);
        if (chunk.isEmpty())
            return -1;
        const qsizetype hit = chunk.indexOf(needle);
        if (hit >= 0)
            return pos + hit;
        pos += kChunk; // the 15 bytes of overlap catch a sentinel split between two pieces
    }
    return -1;
}

struct Entry {
    unsigned char code = 0;
    qint64 start = 0;
    qint64 size = 0;
};

// The DIB as a BMP file, or an empty array when its header makes no sense.
QByteArray bmpFile(const QByteArray& dib) {
    if (dib.size() < kInfoHeaderMin)
        return {};
    const char* h = dib.constData();
    const qint64 infoSize = u32(h);
    const qint64 width = s32(h + 4);
    const qint64 height = s32(h + 8);
    const int planes = u16(h + 12);
    const int bpp = u16(h + 14);
    const int compression = int(u32(h + 16));
    const qint64 coloursUsed = u32(h + 32);
    if (infoSize < kInfoHeaderMin || infoSize > dib.size() || planes != 1)
        return {};
    if (width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide)
        return {};
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return {};
    qint64 colours = coloursUsed;
    if (colours == 0 && bpp <= 8)
        colours = qint64(1) << bpp;
    if (bpp <= 8 && colours > (qint64(1) << bpp))
        return {};
    if (bpp > 8 && colours > 4096) // a palette beside true colour is a hint only; a huge one is damage
        return {};
    qint64 pixelOffset = 14 + infoSize + 4 * colours;
    // The three masks follow a plain info header; the larger headers carry them inside.
    if (compression == kBiBitfields && infoSize == kInfoHeaderMin)
        pixelOffset += 12;
    if (pixelOffset - 14 > dib.size())
        return {};
    // Uncompressed rows must all be there; a short DIB would be decoded from bytes that do not exist.
    if (compression == 0 || compression == kBiBitfields) {
        const qint64 stride = ((width * bpp + 31) / 32) * 4;
        const qint64 rows = height < 0 ? -height : height;
        if (pixelOffset - 14 + stride * rows > dib.size())
            return {};
    }
    QByteArray out;
    out.reserve(14 + dib.size());
    out.append("BM", 2);
    put32(out, quint32(14 + dib.size()));
    put32(out, 0);
    put32(out, quint32(pixelOffset));
    out.append(dib);
    return out;
}

bool isPng(const QByteArray& data) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    return data.size() >= 8 && std::memcmp(data.constData(), signature, 8) == 0;
}

DwgPreviewResult with(DwgPreviewStatus status, const QString& version) {
    DwgPreviewResult r;
    r.status = status;
    r.version = version;
    return r;
}

} // namespace

QString DwgPreviewResult::reason() const {
    switch (status) {
    case DwgPreviewStatus::Found:
        return {};
    case DwgPreviewStatus::Unreadable:
        return QStringLiteral("无法打开图纸文件。");
    case DwgPreviewStatus::NotDrawing:
        return QStringLiteral("该文件不是图纸文件。");
    case DwgPreviewStatus::OldVersion:
        return QStringLiteral("图纸版本过旧（%1），其中没有预览图片。").arg(version);
    case DwgPreviewStatus::Encrypted:
        return QStringLiteral("图纸已加密，无法读取预览图片。");
    case DwgPreviewStatus::NoPreview:
        return QStringLiteral("图纸中没有保存预览图片。");
    case DwgPreviewStatus::Damaged:
        return QStringLiteral("图纸中的预览图片已损坏。");
    }
    return {};
}

DwgPreviewResult ReadDwgPreview(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return with(DwgPreviewStatus::Unreadable, {});
    return ReadDwgPreview(file);
}

DwgPreviewResult ReadDwgPreview(QIODevice& device) {
    const QByteArray header = readAt(device, 0, kHeaderBytes);
    if (header.size() < 6)
        return with(DwgPreviewStatus::NotDrawing, {});
    const QByteArray versionBytes = header.left(6);
    bool known = false;
    for (const char* v : kVersions)
        known = known || versionBytes == v;
    if (!known) {
        // "AC10nn" below R13 is a drawing without a picture; anything else is no drawing at all.
        const bool olderDrawing =
            versionBytes.startsWith("AC") && versionBytes.mid(2).toInt() > 0 && versionBytes.mid(2).toInt() < 1012 &&
            std::all_of(versionBytes.begin() + 2, versionBytes.end(), [](char c) { return c >= '0' && c <= '9'; });
        return with(olderDrawing ? DwgPreviewStatus::OldVersion : DwgPreviewStatus::NotDrawing,
                    olderDrawing ? QString::fromLatin1(versionBytes) : QString());
    }
    const QString version = QString::fromLatin1(versionBytes);
    if (header.size() < kHeaderBytes)
        return with(DwgPreviewStatus::Damaged, version);
    if (static_cast<unsigned char>(header[kSecurityFlagsOffset]) & kEncryptedBit)
        return with(DwgPreviewStatus::Encrypted, version);

    qint64 start = u32(header.constData() + kPointerOffset);
    if (!equals(readAt(device, start, 16), 0, kStartSentinel)) {
        start = searchSentinel(device);
        if (start < 0)
            return with(DwgPreviewStatus::NoPreview, version);
    }

    const QByteArray head = readAt(device, start + 16, 5);
    if (head.isEmpty())
        return with(DwgPreviewStatus::Damaged, version);
    const qint64 overall = u32(head.constData());
    const int count = static_cast<unsigned char>(head[4]);
    if (count == 0)
        return with(DwgPreviewStatus::NoPreview, version);
    const qint64 tableEnd = start + 21 + 9 * qint64(count);
    const qint64 blockEnd = start + 20 + overall; // where the end sentinel stands
    if (overall < 1 + 9 * qint64(count) || blockEnd > device.size())
        return with(DwgPreviewStatus::Damaged, version);
    if (!equals(readAt(device, blockEnd, 16), 0, kEndSentinel))
        return with(DwgPreviewStatus::Damaged, version);

    const QByteArray table = readAt(device, start + 21, 9 * qint64(count));
    if (table.isEmpty())
        return with(DwgPreviewStatus::Damaged, version);
    const Entry* png = nullptr;
    const Entry* bmp = nullptr;
    std::vector<Entry> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const char* e = table.constData() + 9 * i;
        Entry& entry = entries[static_cast<size_t>(i)];
        entry.code = static_cast<unsigned char>(e[0]);
        entry.start = u32(e + 1);
        entry.size = u32(e + 5);
        // Every entry lies between the table and the end sentinel; one that does not betrays damage.
        if (entry.start < tableEnd || entry.size > blockEnd - entry.start)
            return with(DwgPreviewStatus::Damaged, version);
        if (entry.code == kCodePng && entry.size > 0 && !png)
            png = &entry;
        if (entry.code == kCodeBmp && entry.size > 0 && (!bmp || entry.size > bmp->size))
            bmp = &entry;
    }
    const Entry* chosen = png ? png : bmp;
    if (!chosen)
        return with(DwgPreviewStatus::NoPreview, version);
    if (chosen->size > kDwgPictureSizeLimit)
        return with(DwgPreviewStatus::Damaged, version);

    const QByteArray bytes = readAt(device, chosen->start, chosen->size);
    DwgPreviewResult r = with(DwgPreviewStatus::Damaged, version);
    if (chosen == png) {
        if (!isPng(bytes))
            return r;
        r.picture = {DwgPicture::Format::Png, bytes};
    } else {
        QByteArray file = bmpFile(bytes);
        if (file.isEmpty())
            return r;
        r.picture = {DwgPicture::Format::Bmp, std::move(file)};
    }
    r.status = DwgPreviewStatus::Found;
    return r;
}

} // namespace velda
