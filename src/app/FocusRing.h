#pragma once

class QPainter;
class QPalette;
class QRect;

// The mark of the keyboard's place in a list or tree: a dark line with a
// light one inside it (the palette's text and base colours), drawn around
// the current row of the list that has focus. It reads on the light bands, on
// a dark scheme's rows and on the selection colour alike, which the styles'
// own thin focus frame does not (Fusion draws it in the selection's colour).
namespace FocusRing {

void paint(QPainter &painter, const QRect &row, const QPalette &palette);

} // namespace FocusRing
