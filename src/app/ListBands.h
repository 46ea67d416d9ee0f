#pragma once

#include <QColor>
#include <QPalette>

// The alternating row bands of the four lists: white and light green, each
// band one row high. The band height follows the list's text height and a
// height mode; the main window uses mode 2, one pixel more than the icons.
namespace ListBands {

inline const QColor kFirstColour = QColor(0xFF, 0xFF, 0xFF);
inline const QColor kSecondColour = QColor(0xCC, 0xFF, 0xD0);
inline constexpr int kMainWindowMode = 2;

// A dark scheme is in force: its window colour is darker than mid-grey.
bool isDark(const QPalette &palette);
// The two band colours as a scheme shows them: the design's white and light
// green on a light scheme; on a dark one the scheme's own base and a dark
// green of the same hue, so that its light text reads on both.
QColor shownFirst(const QColor &first, const QPalette &scheme);
QColor shownSecond(const QColor &second, const QPalette &scheme);

// The row height in twips for a text `textHeight` twips high, with `tppy`
// twips per pixel (whole) and images `imageHeight` pixels high:
// mode 0 one pixel more than the text, mode 1 at least 19 pixels, mode 2 one
// pixel more than the images; any other mode the text height.
int rowHeightTwips(int mode, int textHeight, int tppy, int imageHeight);

// The row height in twips the main window gives its lists (at 15 twips a
// pixel; the window draws its twips larger for a larger font).
int mainWindowRowHeightTwips();

} // namespace ListBands
