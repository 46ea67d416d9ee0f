#pragma once

#include <QColor>

// The alternating row bands of the four lists: white and light green, each
// band one row high. The band height follows the list's text height and a
// height mode; the main window uses mode 2, one pixel more than the icons.
namespace ListBands {

inline const QColor kFirstColour = QColor(0xFF, 0xFF, 0xFF);
inline const QColor kSecondColour = QColor(0xCC, 0xFF, 0xD0);
inline constexpr int kMainWindowMode = 2;

// The row height in twips for a text `textHeight` twips high, with `tppy`
// twips per pixel (whole) and images `imageHeight` pixels high:
// mode 0 one pixel more than the text, mode 1 at least 19 pixels, mode 2 one
// pixel more than the images; any other mode the text height.
int rowHeightTwips(int mode, int textHeight, int tppy, int imageHeight);

// The row height in twips the main window gives its lists (at 15 twips a
// pixel; the window draws its twips larger for a larger font).
int mainWindowRowHeightTwips();

} // namespace ListBands
