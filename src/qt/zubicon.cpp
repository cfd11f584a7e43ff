#include "qt/zubicon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap ZubIcon::pixmap(int size)
{
    return QPixmap::fromImage(image(size));
}

QImage ZubIcon::image(int size)
{
    QImage pm(size, size, QImage::Format_ARGB32_Premultiplied);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient bg(0, 0, 0, s);
    bg.setColorAt(0, QColor(0x3a, 0x6f, 0xd8));
    bg.setColorAt(1, QColor(0x1d, 0x2f, 0x6b));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(0.04 * s, 0.04 * s, 0.92 * s, 0.92 * s), 0.18 * s, 0.18 * s);

    // A loop: an almost closed ring with an arrow head.
    QPen ring(QColor(0xff, 0xc8, 0x4a), 0.07 * s, Qt::SolidLine, Qt::RoundCap);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    const QRectF circle(0.2 * s, 0.2 * s, 0.6 * s, 0.6 * s);
    p.drawArc(circle, 100 * 16, 300 * 16);
    QPainterPath head;
    head.moveTo(0.47 * s, 0.12 * s);
    head.lineTo(0.6 * s, 0.2 * s);
    head.lineTo(0.47 * s, 0.28 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xc8, 0x4a));
    p.drawPath(head);

    // A note in the middle.
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(0.38 * s, 0.52 * s, 0.16 * s, 0.12 * s));
    p.drawRect(QRectF(0.51 * s, 0.32 * s, 0.035 * s, 0.27 * s));
    return pm;
}
