#include "AppIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const char *const kKeys[] = {
    "blueclose",  "blueopen",        "greenclose",     "greenopen", "pinkclose", "pinkopen", "yellowclose",
    "yellowopen", "recyclebinclose", "recyclebinopen", "inbox",     "recycle",   "exempted", "filter",
};

// Everything is drawn on a 16 x 16 grid; lines sit on half units so that
// they fall on whole pixels at 16 px.
void drawFolder(QPainter &p, QColor fill, bool open)
{
    const QColor edge = fill.darker(170);
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6.0, 3.5);
    back.lineTo(7.5, 5.0);
    back.lineTo(14.5, 5.0);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.setPen(QPen(edge, 1.0));
    p.setBrush(open ? fill.darker(115) : fill);
    p.drawPath(back);
    if (open) {
        QPolygonF flap;
        flap << QPointF(3.5, 7.5) << QPointF(15.5, 7.5) << QPointF(13.5, 13.5) << QPointF(1.5, 13.5);
        p.setBrush(fill.lighter(120));
        p.drawPolygon(flap);
    } else {
        p.setPen(QPen(fill.lighter(140), 1.0));
        p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
    }
}

void drawBin(QPainter &p, QColor body, bool open)
{
    const QColor edge = body.darker(180);
    p.setPen(QPen(edge, 1.0));
    p.setBrush(body);
    QPolygonF can;
    can << QPointF(3.5, 5.5) << QPointF(12.5, 5.5) << QPointF(11.5, 14.5) << QPointF(4.5, 14.5);
    p.drawPolygon(can);
    p.drawLine(QPointF(6.5, 7.5), QPointF(6.5, 12.5));
    p.drawLine(QPointF(9.5, 7.5), QPointF(9.5, 12.5));
    if (open) {
        // Lid tipped up to the right, a sheet of paper sticking out.
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5.5, 2.5, 4.0, 4.0));
        p.setBrush(body.lighter(115));
        p.save();
        p.translate(12.5, 4.5);
        p.rotate(-35);
        p.drawRect(QRectF(-10.0, -1.0, 10.0, 2.0));
        p.restore();
    } else {
        p.setBrush(body.lighter(115));
        p.drawRect(QRectF(2.5, 3.5, 11.0, 2.0));
        p.drawRect(QRectF(6.5, 1.5, 3.0, 2.0));
    }
}

void drawEnvelope(QPainter &p, QColor edge)
{
    p.setPen(QPen(edge, 1.0));
    p.setBrush(QColor(0xFF, 0xFF, 0xF4));
    p.drawRect(QRectF(1.5, 3.5, 13.0, 9.0));
    p.drawPolyline(QPolygonF() << QPointF(1.5, 3.5) << QPointF(8.0, 9.0) << QPointF(14.5, 3.5));
}

void drawCheck(QPainter &p)
{
    p.setPen(QPen(QColor(0x1B, 0x7A, 0x2C), 1.0));
    p.setBrush(QColor(0x3C, 0xB0, 0x4E));
    p.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF() << QPointF(4.5, 8.0) << QPointF(7.0, 10.5) << QPointF(11.5, 5.5));
}

void drawFunnel(QPainter &p)
{
    p.setPen(QPen(QColor(0x1F, 0x4E, 0x9A), 1.0));
    p.setBrush(QColor(0x4A, 0x8B, 0xE0));
    QPolygonF funnel;
    funnel << QPointF(1.5, 2.5) << QPointF(14.5, 2.5) << QPointF(9.5, 8.5) << QPointF(9.5, 14.5) << QPointF(6.5, 12.5)
           << QPointF(6.5, 8.5);
    p.drawPolygon(funnel);
}

void drawKey(QPainter &p, const QString &key)
{
    if (key.endsWith(QLatin1String("close")) || key.endsWith(QLatin1String("open"))) {
        const bool open = key.endsWith(QLatin1String("open"));
        if (key.startsWith(QLatin1String("recyclebin")))
            drawBin(p, QColor(0x9A, 0xA8, 0xB8), open);
        else if (key.startsWith(QLatin1String("blue")))
            drawFolder(p, QColor(0x5B, 0x9B, 0xE8), open);
        else if (key.startsWith(QLatin1String("green")))
            drawFolder(p, QColor(0x5C, 0xC0, 0x6A), open);
        else if (key.startsWith(QLatin1String("pink")))
            drawFolder(p, QColor(0xF0, 0x8C, 0xC0), open);
        else
            drawFolder(p, QColor(0xF2, 0xC9, 0x4C), open);
    } else if (key == QLatin1String("inbox")) {
        drawEnvelope(p, QColor(0x2E, 0x6D, 0xB4));
    } else if (key == QLatin1String("recycle")) {
        drawBin(p, QColor(0xD9, 0x6B, 0x5F), false);
    } else if (key == QLatin1String("exempted")) {
        drawCheck(p);
    } else if (key == QLatin1String("filter")) {
        drawFunnel(p);
    } else if (key == QLatin1String("app")) {
        drawEnvelope(p, QColor(0x2E, 0x6D, 0xB4));
        p.save();
        p.translate(6.0, 6.0);
        p.scale(0.6, 0.6);
        drawCheck(p);
        p.restore();
    }
}

class PaintedIconEngine : public QIconEngine {
public:
    PaintedIconEngine(QString key, QString selectedKey)
        : m_key(std::move(key))
        , m_selectedKey(std::move(selectedKey))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        const QString &key = (mode == QIcon::Selected && !m_selectedKey.isEmpty()) ? m_selectedKey : m_key;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 16.0, side / 16.0);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.45);
        drawKey(*painter, key);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new PaintedIconEngine(m_key, m_selectedKey); }
    QString key() const override { return QStringLiteral("TrelvikPainted"); }
    QString iconName() override { return m_key; }

private:
    QString m_key;
    QString m_selectedKey;
};

} // namespace

namespace AppIcons {

QStringList keys()
{
    QStringList list;
    for (const char *k : kKeys)
        list << QString::fromLatin1(k);
    return list;
}

bool contains(const QString &key)
{
    for (const char *k : kKeys)
        if (key == QLatin1String(k))
            return true;
    return false;
}

QIcon icon(const QString &key)
{
    if (!contains(key))
        return {};
    return QIcon(new PaintedIconEngine(key, QString()));
}

QIcon nodeIcon(const QString &image, const QString &selectedImage)
{
    if (!contains(image))
        return {};
    return QIcon(new PaintedIconEngine(image, contains(selectedImage) ? selectedImage : image));
}

QIcon appIcon()
{
    return QIcon(new PaintedIconEngine(QStringLiteral("app"), QString()));
}

} // namespace AppIcons
