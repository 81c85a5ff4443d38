// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Draws the program's icons (128 x 128 PNGs, sharp on high-DPI screens) into the current folder.
// Not part of the build; regenerate with:
//   g++ -std=c++20 -fPIC make_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_icons
//   QT_QPA_PLATFORM=offscreen /tmp/make_icons
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kSize = 128;

QImage canvas() {
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QPen pen(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void arrow(QPainter& p, bool right) {
    QPainterPath path;
    const qreal tip = right ? 104 : 24, base = right ? 56 : 72, tail = right ? 24 : 104;
    path.moveTo(tip, 64);
    path.lineTo(base, 24);
    path.lineTo(base, 46);
    path.lineTo(tail, 46);
    path.lineTo(tail, 82);
    path.lineTo(base, 82);
    path.lineTo(base, 104);
    path.closeSubpath();
    p.setPen(pen(QColor(20, 70, 140), 6));
    p.setBrush(QColor(60, 130, 210));
    p.drawPath(path);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);

    QImage ferrik = canvas();
    {
        QPainter p(&ferrik);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(pen(QColor(40, 40, 60), 6));
        p.setBrush(QColor(245, 245, 250));
        p.drawRoundedRect(QRectF(10, 18, 108, 92), 14, 14);
        p.setPen(pen(QColor(128, 0, 0), 10));
        p.drawPolyline(QPolygonF({{40, 44}, {24, 64}, {40, 84}}));
        p.drawPolyline(QPolygonF({{88, 44}, {104, 64}, {88, 84}}));
        p.setPen(pen(QColor(0, 0, 200), 10));
        p.drawLine(QPointF(72, 38), QPointF(56, 90));
    }
    ferrik.save("ferrik.png");

    QImage next = canvas();
    {
        QPainter p(&next);
        p.setRenderHint(QPainter::Antialiasing);
        arrow(p, true);
    }
    next.save("next.png");

    QImage previous = canvas();
    {
        QPainter p(&previous);
        p.setRenderHint(QPainter::Antialiasing);
        arrow(p, false);
    }
    previous.save("previous.png");

    QImage close = canvas();
    {
        QPainter p(&close);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(pen(QColor(190, 30, 30), 16));
        p.drawLine(QPointF(32, 32), QPointF(96, 96));
        p.drawLine(QPointF(96, 32), QPointF(32, 96));
    }
    close.save("close.png");

    QImage wrap = canvas();
    {
        QPainter p(&wrap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(pen(QColor(30, 120, 50), 12));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(24, 24, 80, 80), 60 * 16, 300 * 16);
        QPainterPath head;
        head.moveTo(92, 14);
        head.lineTo(100, 46);
        head.lineTo(68, 40);
        head.closeSubpath();
        p.setPen(pen(QColor(30, 120, 50), 4));
        p.setBrush(QColor(30, 120, 50));
        p.drawPath(head);
    }
    wrap.save("wrap.png");
    return 0;
}
