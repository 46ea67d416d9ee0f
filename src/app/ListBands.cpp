#include "ListBands.h"

#include "AppIcons.h"

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

int mainWindowRowHeightTwips()
{
    // Mode 2 ends on a whole number of pixels whatever the text height: the
    // image height plus one.
    constexpr int tppy = 15;
    return rowHeightTwips(kMainWindowMode, 0, tppy, AppIcons::kImageHeight);
}

} // namespace ListBands
