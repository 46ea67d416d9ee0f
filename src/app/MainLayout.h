#pragma once

#include <QList>
#include <QRect>

// The main window's layout rules as one function of the window's outer size
// in twips. Every rectangle is in twips, relative to the client area (below
// the menu bar), as the window's controls are designed.
namespace MainLayout {

inline constexpr int kDesignWidth = 12000;
inline constexpr int kDesignHeight = 8700;
inline constexpr int kMinWidth = 9720;
inline constexpr int kMinHeight = 6900;

// The design's window frame around the client area: the borders left and
// right, and the title bar, menu bar and borders top and bottom. The outer
// size is the client size plus these.
inline constexpr int kFrameWidth = 120;
inline constexpr int kFrameHeight = 690;

// The status bar along the client area's bottom edge.
inline constexpr int kStatusBarHeight = 345;

struct Geometry {
    int width = 0; // the outer size the rules were applied to,
    int height = 0; // after the smallest size was enforced
    int profileFrameWidth = 0; // shpProfile
    int senderColumnWidth = 0; // column 1 of lsvInbox, lsvRecycle
    int subjectColumnWidth = 0; // column 2 of lsvInbox, lsvRecycle
    int emailColumnWidth = 0; // column 1 of lsvFilter, lsvExempted
    QRect shpTreeview;
    QRect shpFolder;
    QRect messageLists; // lsvInbox, lsvRecycle
    QRect ruleLists; // lsvFilter, lsvExempted
    QRect picDetail;
    QRect cmdFetch;
    QRect cmdConfirm;
    QRect cmdExit;
};

// A size below the smallest one is taken as the smallest one: the window
// never gets smaller than that, so nothing is laid out for it.
Geometry compute(int outerWidth, int outerHeight);

// One text drawn in a control of the design: its size in pixels in the font
// it is drawn with (with the control's own margins added), and the room the
// design gives it in twips.
struct TextFit {
    int textWidth = 0;
    int textHeight = 0;
    int designWidth = 0;
    int designHeight = 0;
};

// How many times larger than the design's 15 twips a pixel the layout must
// be drawn so that every text fits its room: 1 for the design's small font,
// more for the larger fonts of today's desktops. The whole window scales
// alike, so its arrangement and proportions stay.
double fontScale(const QList<TextFit> &texts);

} // namespace MainLayout
