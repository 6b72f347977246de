#pragma once

// Drawing files made in the tests, laid out by the product's sample writer, with small pictures whose
// pixels the tests know.

#include "items/DwgSample.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>

namespace velda::test {

// The file layout is the product's own sample writer; the tests spoil its fields.
using DwgMaker = DwgSampleLayout;
using Stored = DwgStoredPicture;

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
    AppendLe32(h, 40);
    AppendLe32(h, quint32(width));
    AppendLe32(h, quint32(topDown ? -height : height));
    AppendLe16(h, 1);
    AppendLe16(h, quint16(bpp));
    AppendLe32(h, bitfields ? 3 : 0);
    AppendLe32(h, 0);
    AppendLe32(h, 2835);
    AppendLe32(h, 2835);
    AppendLe32(h, coloursUsed);
    AppendLe32(h, 0);
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
        AppendLe32(h, 0x00FF0000);
        AppendLe32(h, 0x0000FF00);
        AppendLe32(h, 0x000000FF);
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
