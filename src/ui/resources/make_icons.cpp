// Draws the window icon (a blue rounded square with a white forwarding arrow)
// at the four sizes the window and the desktop file use. Run once; the PNGs
// are kept in icons/. Build:
//   g++ -std=c++20 -fPIC make_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_icons
//   QT_QPA_PLATFORM=offscreen ./make_icons icons
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

namespace {

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    // Rounded square with a light top-to-bottom gradient.
    QLinearGradient fill(0, 0, 0, 48);
    fill.setColorAt(0, QColor(58, 140, 240));
    fill.setColorAt(1, QColor(20, 90, 200));
    p.setPen(QPen(QColor(14, 64, 150), 1.5));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1.5, 1.5, 45, 45), 9, 9);

    // Arrow to the right: the domain forwards the visitor.
    QPainterPath arrow;
    arrow.moveTo(9, 19);
    arrow.lineTo(25, 19);
    arrow.lineTo(25, 10);
    arrow.lineTo(40, 24);
    arrow.lineTo(25, 38);
    arrow.lineTo(25, 29);
    arrow.lineTo(9, 29);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (int size : {16, 24, 32, 48}) {
        if (!drawIcon(size).save(QStringLiteral("%1/qiv-forward-%2.png").arg(dir).arg(size)))
            return 1;
    }
    return 0;
}
