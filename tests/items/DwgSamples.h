#pragma once

// Drawing files made in the tests, laid out as CAD programs write them, with small pictures whose
// pixels the tests know.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>

namespace velda::test {

inline const unsigned char kStart[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                         0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
inline const unsigned char kEnd[16] = {0xE0, 0xDA, 0x92, 0xF8, 0x2B, 0xC9, 0xD7, 0xD7,
                                       0x62, 0xA8, 0x35, 0xC0, 0x62, 0xBB, 0xEF, 0xD4};

inline void put32(QByteArray& b, qint64 at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
inline void append32(QByteArray& b, quint32 v) {
    b.append(4, '\0');
    put32(b, b.size() - 4, v);
}
inline void append16(QByteArray& b, quint16 v) {
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

struct Stored {
    unsigned char code;
    QByteArray data;
};

// One drawing file as the writers lay it out. Each field can be spoiled to make a damaged file.
struct DwgMaker {
    QByteArray version = "AC1015";
    qint64 blockAt = 0x1C0;  // where the picture block starts
    qint64 pageHeader = 0;   // bytes of a section page header before the block (R2004 and later)
    qint64 pointerDelta = 0; // added to the pointer at 0x0D
    bool encrypted = false;
    QList<Stored> images;
    qint64 overallDelta = 0;    // added to the block's overall size
    qint64 firstStartDelta = 0; // added to the first entry's start
    qint64 firstSizeDelta = 0;  // added to the first entry's size
    bool endSentinel = true;

    QByteArray make() const {
        QByteArray b(0x19, '\0');
        b.replace(0, 6, version);
        b[0x0B] = 0x0F;
        b[0x0C] = 0x01;
        if (encrypted)
            b[0x18] = 0x02;
        const qint64 pageAt = blockAt - pageHeader;
        b.resize(pageAt, '\x55');
        b.append(pageHeader, '\x33');
        put32(b, 0x0D, quint32(blockAt + pointerDelta));
        b.append(reinterpret_cast<const char*>(kStart), 16);
        qint64 payload = 0;
        for (const Stored& s : images)
            payload += s.data.size();
        append32(b, quint32(1 + 9 * images.size() + payload + overallDelta));
        b.append(char(images.size()));
        qint64 at = blockAt + 21 + 9 * images.size();
        for (qsizetype i = 0; i < images.size(); ++i) {
            b.append(char(images[i].code));
            append32(b, quint32(at + (i == 0 ? firstStartDelta : 0)));
            append32(b, quint32(images[i].data.size() + (i == 0 ? firstSizeDelta : 0)));
            at += images[i].data.size();
        }
        for (const Stored& s : images)
            b.append(s.data);
        if (endSentinel)
            b.append(reinterpret_cast<const char*>(kEnd), 16);
        b.append(64, '\x77'); // the drawing's own data follows
        return b;
    }
};

// The colours of the test pictures: left half red, right half blue, the second row green.
inline QRgb expected(int x, int y, int width) {
    if (y == 1)
        return qRgb(0, 160, 0);
    return x < width / 2 ? qRgb(200, 0, 0) : qRgb(0, 0, 220);
}

// A DIB without file header; rows bottom-up unless topDown.
inline QByteArray dib(int bpp, bool topDown = false, bool bitfields = false, int width = 4, int height = 2,
                      quint32 coloursUsed = 0) {
    QByteArray h;
    append32(h, 40);
    append32(h, quint32(width));
    append32(h, quint32(topDown ? -height : height));
    append16(h, 1);
    append16(h, quint16(bpp));
    append32(h, bitfields ? 3 : 0);
    append32(h, 0);
    append32(h, 2835);
    append32(h, 2835);
    append32(h, coloursUsed);
    append32(h, 0);
    QList<QRgb> palette;
    if (bpp == 8) {
        palette = {qRgb(200, 0, 0), qRgb(0, 0, 220), qRgb(0, 160, 0)};
        const int entries = coloursUsed ? int(coloursUsed) : 256;
        for (int i = 0; i < entries; ++i) {
            const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
            h.append(char(qBlue(c)));
            h.append(char(qGreen(c)));
            h.append(char(qRed(c)));
            h.append('\0');
        }
    }
    if (bitfields) {
        append32(h, 0x00FF0000);
        append32(h, 0x0000FF00);
        append32(h, 0x000000FF);
    }
    const int stride = ((width * bpp + 31) / 32) * 4;
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        QByteArray row;
        for (int x = 0; x < width; ++x) {
            const QRgb c = expected(x, y, width);
            if (bpp == 8) {
                row.append(char(y == 1 ? 2 : (x < width / 2 ? 0 : 1)));
            } else {
                row.append(char(qBlue(c)));
                row.append(char(qGreen(c)));
                row.append(char(qRed(c)));
                if (bpp == 32)
                    row.append('\0');
            }
        }
        row.append(stride - row.size(), '\0');
        h.append(row);
    }
    return h;
}

inline QByteArray png(int width = 6, int height = 2) {
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, expected(x, y, width));
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return out;
}

} // namespace velda::test
