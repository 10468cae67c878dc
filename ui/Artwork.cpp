#include "Artwork.h"

#include <QPainter>
#include <QRadialGradient>
#include <QSvgRenderer>
#include <QtMath>
#include <functional>

namespace {

/** A 16 x 16 picture drawn afresh at one, two and three times the pixels, so that a screen at a
 *  scale of 2 (or 3) shows it sharp rather than enlarged. */
QIcon drawnAtEveryScale(const std::function<void(QPainter&)>& draw) {
    QIcon icon;
    for (const int scale : {1, 2, 3}) {
        QPixmap pm(16 * scale, 16 * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        draw(p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon lamp(const QColor& color) {
    return drawnAtEveryScale([color](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing);
        QRadialGradient g(QPointF(6, 6), 8);
        g.setColorAt(0, color.lighter(170));
        g.setColorAt(1, color.darker(120));
        // A light ring around a dark rim: one of the two stands out on any panel, light or dark.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255), 1));
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setBrush(g);
        p.setPen(QPen(color.darker(300), 1));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    });
}

QIcon envelope(const QColor& paper, const QColor& ink) {
    return drawnAtEveryScale([paper, ink](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(paper);
        p.setPen(QPen(ink, 1));
        p.drawRect(QRectF(1.5, 3.5, 13, 9));
        p.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
        p.drawLine(QPointF(14.5, 3.5), QPointF(8, 9));
    });
}

} // namespace

QList<QIcon> MakeLampImages() {
    return {lamp(QColor(210, 30, 30)), lamp(QColor(240, 170, 0)), lamp(QColor(30, 170, 40)), lamp(QColor(40, 90, 220))};
}

QList<QIcon> MakeTrayImages() {
    return {envelope(QColor(250, 250, 240), QColor(40, 40, 120)), envelope(QColor(255, 200, 40), QColor(160, 40, 0))};
}

QPixmap MakeArrobaStrip(const QColor& ink, qreal scale) {
    constexpr int kFrames = 18, kFrameWidth = 38, kHeight = 31;
    QPixmap strip(qCeil(kFrames * kFrameWidth * scale), qCeil(kHeight * scale));
    strip.setDevicePixelRatio(scale);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont f(u"DejaVu Sans"_qs);
    f.setPixelSize(22);
    f.setBold(true);
    p.setFont(f);
    for (int i = 0; i < kFrames; ++i) {
        p.save();
        p.translate(i * kFrameWidth + 18.5, kHeight / 2.0);
        p.rotate(i * 360.0 / kFrames);
        p.setPen(ink);
        p.drawText(QRectF(-15, -15, 30, 30), Qt::AlignCenter, u"@"_qs);
        p.restore();
    }
    return strip;
}

QList<QIcon> MakeViewModeImages() {
    QList<QIcon> out;
    for (int mode = 1; mode <= 3; ++mode) {
        out.append(drawnAtEveryScale([mode](QPainter& p) {
            p.setPen(QColor(60, 60, 60));
            p.setBrush(QColor(255, 255, 255));
            const int listBottom = mode == 1 ? 14 : 8;
            p.drawRect(1, 1, 13, listBottom - 1);
            for (int y = 4; y < listBottom; y += 3)
                p.drawLine(3, y, 12, y);
            if (mode >= 2) {
                p.setBrush(QColor(255, 250, 220));
                p.drawRect(1, 9, mode == 3 ? 7 : 13, 5);
            }
            if (mode == 3) {
                p.setBrush(QColor(220, 235, 255));
                p.drawRect(9, 9, 5, 5);
            }
        }));
    }
    return out;
}

QPixmap MakeLoudspeakerImage() {
    QPixmap pm(13, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(90, 90, 110));
    // The box and the cone.
    p.drawRect(QRectF(0.5, 4.5, 3, 5));
    const QPointF cone[] = {{3.5, 4.5}, {7.5, 0.5}, {7.5, 13.5}, {3.5, 9.5}};
    p.drawPolygon(cone, 4);
    // Two sound waves.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 40, 160), 1));
    p.drawArc(QRectF(5.5, 4, 4, 6), -60 * 16, 120 * 16);
    p.drawArc(QRectF(5.5, 1.5, 7, 11), -60 * 16, 120 * 16);
    return pm;
}

QIcon MakeApplicationIcon() {
    QIcon icon;
    QSvgRenderer picture(u":/icons/io.github.quenmar.Tavelo.svg"_qs);
    if (!picture.isValid()) return icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        picture.render(&p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
