#include "MainLayout.h"

#include <algorithm>

namespace MainLayout {

Geometry compute(int outerWidth, int outerHeight)
{
    Geometry g;
    const int w = std::max(outerWidth, kMinWidth);
    const int h = std::max(outerHeight, kMinHeight);
    g.width = w;
    g.height = h;

    g.profileFrameWidth = w - 345;
    // Beyond the design width Sender and Subject share the extra room; below
    // it Subject gives way alone.
    const int extra = std::max(w - kDesignWidth, 0);
    g.senderColumnWidth = 2000 + extra - extra / 2;
    g.subjectColumnWidth = w - 8050 - (extra - extra / 2);
    g.emailColumnWidth = w - 3150;

    const int w2 = w - 2865;
    g.shpFolder = QRect(2640, 720, w2, 375);
    g.messageLists = QRect(2640, 1080, w2, h - 4005);
    g.ruleLists = QRect(2640, 1080, w2, h - 2685);
    g.picDetail = QRect(2640, h - 2820, w2, 1215);
    g.shpTreeview = QRect(120, 720, 2415, h - 2325);

    const int buttonsTop = h - 1500;
    g.cmdFetch = QRect(2640, buttonsTop, 1215, 375);
    g.cmdConfirm = QRect(3960, buttonsTop, 1695, 375);
    g.cmdExit = QRect(5760, buttonsTop, 735, 375);
    return g;
}

double fontScale(const QList<TextFit> &texts)
{
    constexpr double twipsPerPixel = 15.0;
    double scale = 1.0;
    for (const TextFit &t : texts) {
        if (t.designWidth > 0)
            scale = std::max(scale, t.textWidth * twipsPerPixel / t.designWidth);
        if (t.designHeight > 0)
            scale = std::max(scale, t.textHeight * twipsPerPixel / t.designHeight);
    }
    return scale;
}

} // namespace MainLayout
