#include "FocusRing.h"

#include <QPainter>
#include <QPalette>
#include <QPen>

namespace FocusRing {

void paint(QPainter &painter, const QRect &row, const QPalette &palette)
{
    if (row.width() < 6 || row.height() < 6)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    // Two pixels of text colour at the edge, one of base colour inside.
    QPen outer(palette.color(QPalette::Text), 2);
    outer.setJoinStyle(Qt::MiterJoin);
    painter.setPen(outer);
    painter.drawRect(row.adjusted(1, 1, -1, -1));
    painter.setPen(QPen(palette.color(QPalette::Base), 1));
    painter.drawRect(row.adjusted(2, 2, -3, -3));
    painter.restore();
}

} // namespace FocusRing
