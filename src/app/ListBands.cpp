#include "ListBands.h"

#include "AppIcons.h"

#include <algorithm>

namespace ListBands {

int rowHeightTwips(int mode, int textHeight, int tppy, int imageHeight)
{
    if (tppy <= 0)
        return textHeight;
    switch (mode) {
    case 0:
        return textHeight + tppy;
    case 1:
        if (textHeight / tppy < 19)
            return textHeight + (18 - textHeight / tppy) * tppy + tppy;
        return textHeight + tppy;
    case 2:
        return textHeight + (imageHeight - textHeight / tppy) * tppy + tppy;
    default:
        return textHeight;
    }
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor shownFirst(const QColor &first, const QPalette &scheme)
{
    return isDark(scheme) ? scheme.color(QPalette::Base) : first;
}

QColor shownSecond(const QColor &second, const QPalette &scheme)
{
    if (!isDark(scheme))
        return second;
    // The band's hue and saturation, as dark as the scheme's base plus a
    // step that still tells the bands apart.
    const int value = std::clamp(scheme.color(QPalette::Base).value() + 40, 48, 96);
    return QColor::fromHsv(second.hsvHue(), std::max(second.hsvSaturation(), 96), value);
}

int mainWindowRowHeightTwips()
{
    // Mode 2 ends on a whole number of pixels whatever the text height: the
    // image height plus one.
    constexpr int tppy = 15;
    return rowHeightTwips(kMainWindowMode, 0, tppy, AppIcons::kImageHeight);
}

} // namespace ListBands
