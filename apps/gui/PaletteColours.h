#pragma once

// Colours the pages add to the palette's own, chosen so that they stay legible on a light
// and on a dark background.

#include <QColor>
#include <QPalette>

namespace pelkora::gui {

// Whether text is drawn light on dark.
inline bool isDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

// For wrongly decoded characters and failure statuses: red.
inline QColor warningColour(const QPalette& palette) {
    return isDarkPalette(palette) ? QColor(0xff, 0x7b, 0x72) : QColor(0xc6, 0x28, 0x28);
}

// For the glyphs of spaces, tabs and line breaks: blue, 80 % opaque.
inline QColor controlCharacterColour(const QPalette& palette) {
    QColor colour = isDarkPalette(palette) ? QColor(0x79, 0xc0, 0xff) : QColor(0x15, 0x65, 0xc0);
    colour.setAlphaF(0.8);
    return colour;
}

// For columns that are imported: green.
inline QColor assignedColour(const QPalette& palette) {
    return isDarkPalette(palette) ? QColor(0x7e, 0xe7, 0x87) : QColor(0x1b, 0x7a, 0x34);
}

// For columns that go into the note: blue.
inline QColor appendColour(const QPalette& palette) {
    return isDarkPalette(palette) ? QColor(0x79, 0xc0, 0xff) : QColor(0x15, 0x65, 0xc0);
}

}  // namespace pelkora::gui
