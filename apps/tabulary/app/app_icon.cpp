#include "app/app_icon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tab::gui {

// A table sheet: white rounded card, blue header band, light grid below.
QImage applicationIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    const QColor edge(0x2f, 0x5f, 0x98);
    const QColor band(0x4a, 0x7f, 0xc1);
    const QColor grid(0xa9, 0xc3, 0xe3);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);

    const qreal unit = size / 16.0;
    const qreal stroke = qMax<qreal>(1.0, unit);
    // Half a stroke inside, so the outline is not clipped at the image's edge.
    const QRectF card =
        QRectF(0, 0, size, size)
            .adjusted(stroke / 2, stroke / 2 + unit, -stroke / 2, -stroke / 2 - unit);
    const qreal radius = 2.0 * unit;
    QPainterPath outline;
    outline.addRoundedRect(card, radius, radius);

    painter.fillPath(outline, Qt::white);

    const qreal bandBottom = card.top() + card.height() * 0.3;
    painter.save();
    painter.setClipPath(outline);
    painter.fillRect(QRectF(card.left(), card.top(), card.width(), bandBottom - card.top()), band);

    // Two columns lines and two row lines split the body into a 3x3 grid.
    QPen gridPen(grid, stroke);
    gridPen.setCapStyle(Qt::FlatCap);
    painter.setPen(gridPen);
    const qreal bodyHeight = card.bottom() - bandBottom;
    for (int i = 1; i <= 2; ++i) {
        const qreal y = bandBottom + bodyHeight * i / 3.0;
        painter.drawLine(QPointF(card.left(), y), QPointF(card.right(), y));
        const qreal x = card.left() + card.width() * i / 3.0;
        painter.drawLine(QPointF(x, bandBottom), QPointF(x, card.bottom()));
    }
    painter.restore();

    painter.setPen(QPen(edge, stroke));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
    painter.end();
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(applicationIconImage(size)));
    return icon;
}

}  // namespace tab::gui
