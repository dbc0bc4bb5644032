#ifndef SENSORMAP_H
#define SENSORMAP_H

#include <QImage>
#include <QRect>
#include <QRgb>

class QPainter;

// Paints the second program's sensor map: one grey cell per sensor crossing,
// from the matrix's signed bytes, then a red disc on every touch point.
// paint() fills the cells into one reused image and draws it at once; it
// gives the same pixels as paintPlain(), which fills cell by cell.
class SensorMap
{
public:
    enum {
        Left = 15, Top = 70, Width = 800, Height = 600,
        MaxLayout = 255,   // layouts come from single status bytes
        DiscSize = 16
    };

    SensorMap();

    // The grey of a matrix byte: 3 times its signed value, bounded to 0 to 255.
    static int greyLevel(unsigned char cell);

    // Cell x, y of the matrix is byte x * layoutY + y; touchData is a touch
    // block. Layouts are taken as 0 to 255; a zero layout draws no cell.
    void paint(QPainter &painter, const unsigned char *matrix, int layoutX, int layoutY,
               const unsigned char *touchData);
    static void paintPlain(QPainter &painter, const unsigned char *matrix, int layoutX, int layoutY,
                           const unsigned char *touchData);
    static void paintTouchPoints(QPainter &painter, const unsigned char *touchData);

    // Everything paint() can draw for this touch block: the map and every
    // disc, which lies partly or wholly beyond the map when a coordinate is
    // out of the driver's range.
    static QRect paintedArea(const unsigned char *touchData);

private:
    void fillCells(const unsigned char *matrix, int layoutX, int layoutY);

    QImage cells;
    QRgb greys[256];
};

#endif // SENSORMAP_H
