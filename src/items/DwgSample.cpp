#include "items/DwgSample.h"

namespace velda {

void PutLe32(QByteArray& bytes, qint64 at, quint32 value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

void AppendLe32(QByteArray& bytes, quint32 value) {
    bytes.append(4, '\0');
    PutLe32(bytes, bytes.size() - 4, value);
}

void AppendLe16(QByteArray& bytes, quint16 value) {
    bytes.append(char(value & 0xFF));
    bytes.append(char(value >> 8));
}

QByteArray DwgSampleLayout::make() const {
    constexpr qint64 kHeaderBytes = 0x19;
    constexpr qint64 kEntryBytes = 9; // code, start, size
    QByteArray b(kHeaderBytes, '\0');
    b.replace(0, 6, version);
    b[0x0B] = 0x0F; // maintenance version and a fixed byte, as writers leave them
    b[0x0C] = 0x01;
    if (encrypted)
        b[0x18] = 0x02;
    const qint64 pageAt = blockAt - pageHeader;
    b.resize(pageAt, '\x55');
    b.append(pageHeader, '\x33');
    PutLe32(b, 0x0D, quint32(blockAt + pointerDelta));
    b.append(reinterpret_cast<const char*>(kDwgPictureStart.data()), 16);
    qint64 payload = 0;
    for (const DwgStoredPicture& s : images)
        payload += s.data.size();
    AppendLe32(b, quint32(1 + kEntryBytes * images.size() + payload + overallDelta));
    b.append(char(images.size()));
    // Entries point at absolute file offsets: past the sentinel, the size, the count and the table.
    qint64 at = blockAt + 16 + 4 + 1 + kEntryBytes * images.size();
    for (qsizetype i = 0; i < images.size(); ++i) {
        b.append(char(images[i].code));
        AppendLe32(b, quint32(at + (i == 0 ? firstStartDelta : 0)));
        AppendLe32(b, quint32(images[i].data.size() + (i == 0 ? firstSizeDelta : 0)));
        at += images[i].data.size();
    }
    for (const DwgStoredPicture& s : images)
        b.append(s.data);
    if (endSentinel)
        b.append(reinterpret_cast<const char*>(kDwgPictureEnd.data()), 16);
    b.append(64, '\x77'); // where the drawing's own data would follow
    return b;
}

QByteArray SampleDrawingWithBitmap(const QByteArray& dib) {
    DwgSampleLayout layout;
    layout.version = "AC1018";
    layout.pageHeader = 0x20;
    // Writers store a small header entry before the bitmap; the reader passes over it.
    layout.images = {{DwgEntry::Header, QByteArray(80, '\x01')}, {DwgEntry::Bitmap, dib}};
    return layout.make();
}

} // namespace velda
