#pragma once

#include <QtGlobal>

// Window geometry is designed in twips (1/1440 inch). The conversion to
// pixels happens here and only here: 15 twips per pixel at 96 dpi.
namespace Twips {

inline constexpr double kPerInch = 1440.0;

inline int toPixels(int twips, double logicalDpi = 96.0)
{
    return qRound(twips * logicalDpi / kPerInch);
}

inline int fromPixels(int pixels, double logicalDpi = 96.0)
{
    return qRound(pixels * kPerInch / logicalDpi);
}

} // namespace Twips
