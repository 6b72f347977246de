#pragma once

namespace velda {

// Sizes of the office's forms are given in twips: 1440 to the inch, 15 to a pixel at 96 DPI.
inline int TwipsToPixels(int twips, double logicalDpi = 96.0) {
    return static_cast<int>(twips * logicalDpi / 1440.0 + 0.5);
}
inline int PixelsToTwips(int pixels, double logicalDpi = 96.0) {
    return static_cast<int>(pixels * 1440.0 / logicalDpi + 0.5);
}

} // namespace velda
