#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace velda {

// The picture a CAD program stores inside a drawing file, as a complete image file that an image
// decoder takes as it is: the stored PNG, or the stored DIB with a BMP file header put in front.
struct DwgPicture {
    enum class Format { Png, Bmp };
    Format format = Format::Png;
    QByteArray data;
};

enum class DwgPreviewStatus {
    Found,
    Unreadable, // the file cannot be opened
    NotDrawing, // empty, or no drawing version text at its start
    OldVersion, // a drawing from before R13: no picture is stored
    Encrypted,
    NoPreview, // the drawing stores no picture (or only a metafile)
    Damaged,   // the picture's block contradicts itself or the file's size
};

struct DwgPreviewResult {
    DwgPreviewStatus status = DwgPreviewStatus::NotDrawing;
    QString version; // the six-character version text when the file starts with one
    DwgPicture picture;

    bool found() const { return status == DwgPreviewStatus::Found; }
    // Why there is no picture, for the user; empty when one was found.
    QString reason() const;
};

// Reads the stored picture of a drawing, touching only the bytes it needs: the header, the picture
// block and the chosen image. A damaged or hostile file yields no picture, never an over-read.
DwgPreviewResult ReadDwgPreview(const QString& path);
DwgPreviewResult ReadDwgPreview(QIODevice& device);

// How far into a file the picture block is looked for when the header's pointer misses it. Writers
// place the block right after the file header, so a damaged pointer still finds it early on.
inline constexpr qint64 kDwgSentinelSearchLimit = 16 * 1024 * 1024;
// No stored picture is larger; a larger size is taken for damage rather than allocated.
inline constexpr qint64 kDwgPictureSizeLimit = 32 * 1024 * 1024;

} // namespace velda
