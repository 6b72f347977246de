#pragma once

#include <QByteArray>
#include <QList>

#include <array>

namespace velda {

// The markers around the picture block of a drawing file; the preview reader looks for them and the
// sample writer puts them there.
inline constexpr std::array<unsigned char, 16> kDwgPictureStart = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                                                   0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
inline constexpr std::array<unsigned char, 16> kDwgPictureEnd = {0xE0, 0xDA, 0x92, 0xF8, 0x2B, 0xC9, 0xD7, 0xD7,
                                                                 0x62, 0xA8, 0x35, 0xC0, 0x62, 0xBB, 0xEF, 0xD4};

// What an entry of the picture block holds.
namespace DwgEntry {
inline constexpr unsigned char Header = 1;
inline constexpr unsigned char Bitmap = 2; // a DIB: info header, palette, rows
inline constexpr unsigned char Metafile = 3;
inline constexpr unsigned char Png = 6;
} // namespace DwgEntry

// Little-endian numbers, as the file stores them.
void PutLe32(QByteArray& bytes, qint64 at, quint32 value);
void AppendLe32(QByteArray& bytes, quint32 value);
void AppendLe16(QByteArray& bytes, quint16 value);

struct DwgStoredPicture {
    unsigned char code = DwgEntry::Bitmap;
    QByteArray data;
};

// A sample drawing file: the file header and the picture block laid out as CAD programs write them,
// followed by filler where a real drawing's own data would be. It shows a picture in the item search
// and in velda-preview, but a CAD program cannot open it. Each field can be spoiled to make a damaged
// file.
struct DwgSampleLayout {
    QByteArray version = "AC1015";
    qint64 blockAt = 0x1C0;  // where the picture block starts
    qint64 pageHeader = 0;   // bytes of a section page header before the block (R2004 and later)
    qint64 pointerDelta = 0; // added to the pointer at 0x0D
    bool encrypted = false;
    QList<DwgStoredPicture> images;
    qint64 overallDelta = 0;    // added to the block's overall size
    qint64 firstStartDelta = 0; // added to the first entry's start
    qint64 firstSizeDelta = 0;  // added to the first entry's size
    bool endSentinel = true;

    QByteArray make() const;
};

// A sample drawing (R2004 layout) whose picture is the DIB given: a device-independent bitmap without
// its BMP file header, as the picture block stores it.
QByteArray SampleDrawingWithBitmap(const QByteArray& dib);

} // namespace velda
