#include "signalviews/SensorMap.h"

#include "driverlink/KerDriverFunc.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

int boundedLayout(int count)
{
    return qBound(0, count, int(SensorMap::MaxLayout));
}

QRect discRect(const unsigned char *touchData, int i)
{
    const int px = KerDecode::touchX(touchData, i) * SensorMap::Width / 4095;
    const int py = KerDecode::touchY(touchData, i) * SensorMap::Height / 4095;
    return QRect(SensorMap::Left - SensorMap::DiscSize / 2 + px, SensorMap::Top - SensorMap::DiscSize / 2 + py,
                 SensorMap::DiscSize, SensorMap::DiscSize);
}

} // namespace

SensorMap::SensorMap()
{
    for (int byte = 0; byte < 256; ++byte) {
        const int g = greyLevel(static_cast<unsigned char>(byte));
        greys[byte] = qRgb(g, g, g);
    }
}

int SensorMap::greyLevel(unsigned char cell)
{
    return qBound(0, 3 * static_cast<signed char>(cell), 255);
}

void SensorMap::paint(QPainter &painter, const unsigned char *matrix, int layoutX, int layoutY,
                      const unsigned char *touchData)
{
    layoutX = boundedLayout(layoutX);
    layoutY = boundedLayout(layoutY);
    // One picture of every cell: no pen, no brush to set.
    if (layoutX > 0 && layoutY > 0) {
        fillCells(matrix, layoutX, layoutY);
        painter.drawImage(Left, Top, cells);
    }
    paintTouchPoints(painter, touchData);
}

void SensorMap::paintPlain(QPainter &painter, const unsigned char *matrix, int layoutX, int layoutY,
                           const unsigned char *touchData)
{
    layoutX = boundedLayout(layoutX);
    layoutY = boundedLayout(layoutY);
    painter.save();
    painter.setPen(Qt::NoPen);
    for (int x = 0; x < layoutX; ++x) {
        for (int y = 0; y < layoutY; ++y) {
            const int g = greyLevel(matrix[x * layoutY + y]);
            const QPoint topLeft(Left + x * Width / layoutX, Top + y * Height / layoutY);
            const QPoint bottomRight(Left - 1 + (x + 1) * Width / layoutX, Top - 1 + (y + 1) * Height / layoutY);
            painter.fillRect(QRect(topLeft, bottomRight), QColor(g, g, g));
        }
    }
    painter.restore();
    paintTouchPoints(painter, touchData);
}

void SensorMap::paintTouchPoints(QPainter &painter, const unsigned char *touchData)
{
    const int count = KerDecode::touchCount(touchData);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 0, 0));
    for (int i = 0; i < count; ++i)
        painter.drawEllipse(discRect(touchData, i));
    painter.restore();
}

QRect SensorMap::paintedArea(const unsigned char *touchData)
{
    QRect area(Left, Top, Width, Height);
    const int count = KerDecode::touchCount(touchData);
    for (int i = 0; i < count; ++i)
        area |= discRect(touchData, i);
    return area;
}

void SensorMap::fillCells(const unsigned char *matrix, int layoutX, int layoutY)
{
    if (cells.isNull())
        cells = QImage(Width, Height, QImage::Format_RGB32);

    int columnStart[MaxLayout + 1];
    for (int x = 0; x <= layoutX; ++x)
        columnStart[x] = x * Width / layoutX;

    const qsizetype stride = cells.bytesPerLine();
    uchar *bits = cells.bits();
    for (int y = 0; y < layoutY; ++y) {
        const int top = y * Height / layoutY;
        const int bottom = (y + 1) * Height / layoutY;
        // Fill the band's first row span by span, then copy it down the band.
        QRgb *first = reinterpret_cast<QRgb *>(bits + top * stride);
        const unsigned char *cell = matrix + y;
        for (int x = 0; x < layoutX; ++x, cell += layoutY)
            std::fill(first + columnStart[x], first + columnStart[x + 1], greys[*cell]);
        for (int row = top + 1; row < bottom; ++row)
            std::memcpy(bits + row * stride, first, Width * sizeof(QRgb));
    }
}
