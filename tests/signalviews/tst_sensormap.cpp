#include "signalviews/SensorMap.h"
#include "tests/support/TestSupport.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <random>
#include <vector>

namespace {

const QRgb Background = qRgb(0, 255, 0);
const QRgb Red = qRgb(255, 0, 0);
const QRect Map(15, 70, 800, 600);

using Matrix = std::vector<unsigned char>;
using TestSupport::TouchBlock;
using TestSupport::countPixels;
using TestSupport::touchBlock;

Matrix filledMatrix(unsigned char byte)
{
    return Matrix(270340, byte);
}

Matrix randomMatrix(unsigned seed)
{
    std::mt19937 random(seed);
    Matrix matrix(270340);
    for (auto &cell : matrix)
        cell = static_cast<unsigned char>(random());
    return matrix;
}

// 40 points far enough apart that their discs never touch.
QVector<QPoint> spreadPoints()
{
    QVector<QPoint> points;
    for (int i = 0; i < 40; ++i)
        points << QPoint(200 + 500 * (i % 8), 300 + 800 * (i / 8));
    return points;
}

enum class Painting { Image, OneFillPerCell };

QImage render(SensorMap &map, Painting painting, const Matrix &matrix, int layoutX, int layoutY,
              const TouchBlock &touch, QImage::Format format = QImage::Format_RGB32,
              const QRect &clip = QRect())
{
    QImage image(830, 685, format);
    image.fill(Background);
    QPainter painter(&image);
    if (!clip.isNull())
        painter.setClipRect(clip);
    if (painting == Painting::Image)
        map.paint(painter, matrix.data(), layoutX, layoutY, touch.data());
    else
        SensorMap::paintPlain(painter, matrix.data(), layoutX, layoutY, touch.data());
    painter.end();
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage render(Painting painting, const Matrix &matrix, int layoutX, int layoutY, const TouchBlock &touch)
{
    SensorMap map;
    return render(map, painting, matrix, layoutX, layoutY, touch);
}

QRect boundingBox(const QImage &image, QRgb colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                box |= QRect(x, y, 1, 1);
    return box;
}

QRgb grey(int g)
{
    return qRgb(g, g, g);
}

} // namespace

class TestSensorMap : public QObject
{
    Q_OBJECT

private slots:
    void greyOfAByte_data();
    void greyOfAByte();
    void signedBytes_data();
    void signedBytes();
    void cellsTileTheMap_data();
    void cellsTileTheMap();
    void cellOrderAndEdges();
    void touchDiscPlacement_data();
    void touchDiscPlacement();
    void touchCount_data();
    void touchCount();
    void zeroLayoutDrawsDiscsOnly_data();
    void zeroLayoutDrawsDiscsOnly();
    void sameAsOneFillPerCell_data();
    void sameAsOneFillPerCell();

private:
    // One map for every row, so a paint never profits from a fresh image.
    SensorMap reused;
};

void TestSensorMap::greyOfAByte_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("grey");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 3;
    QTest::newRow("2") << 2 << 6;
    QTest::newRow("84") << 84 << 252;
    QTest::newRow("85") << 85 << 255;
    QTest::newRow("127") << 127 << 255;
    QTest::newRow("0x80") << 0x80 << 0;
    QTest::newRow("0xFF") << 0xFF << 0;
}

void TestSensorMap::greyOfAByte()
{
    QFETCH(int, byte);
    QFETCH(int, grey);
    const QImage image = render(Painting::Image, filledMatrix(static_cast<unsigned char>(byte)), 1, 1,
                                touchBlock(0, {}));
    // A 1 x 1 layout is one cell over the whole map, and nothing else.
    QCOMPARE(image.pixel(15, 70), ::grey(grey));
    QCOMPARE(image.pixel(814, 669), ::grey(grey));
    QCOMPARE(image.pixel(415, 370), ::grey(grey));
    QCOMPARE(image.pixel(14, 70), Background);
    QCOMPARE(image.pixel(815, 669), Background);
    QCOMPARE(image.pixel(15, 69), Background);
    QCOMPARE(image.pixel(814, 670), Background);
}

void TestSensorMap::signedBytes_data()
{
    QTest::addColumn<int>("firstByte");
    QTest::addColumn<int>("lastByte");
    QTest::addColumn<int>("grey");
    QTest::newRow("negative") << 0x80 << 0xFF << 0;
    QTest::newRow("saturated") << 85 << 127 << 255;
}

void TestSensorMap::signedBytes()
{
    QFETCH(int, firstByte);
    QFETCH(int, lastByte);
    QFETCH(int, grey);
    // One column per byte value, all in one paint.
    const int layoutX = lastByte - firstByte + 1;
    Matrix matrix = filledMatrix(1);
    for (int x = 0; x < layoutX; ++x)
        matrix[x] = static_cast<unsigned char>(firstByte + x);
    const QImage image = render(Painting::Image, matrix, layoutX, 1, touchBlock(0, {}));
    for (int x = 15; x < 815; ++x)
        QCOMPARE(image.pixel(x, 370), ::grey(grey));
}

void TestSensorMap::cellsTileTheMap_data()
{
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::newRow("1 x 1") << 1 << 1;
    QTest::newRow("7 x 3") << 7 << 3;
    QTest::newRow("40 x 30") << 40 << 30;
    QTest::newRow("255 x 1") << 255 << 1;
    QTest::newRow("1 x 255") << 1 << 255;
    QTest::newRow("13 x 200") << 13 << 200;
    QTest::newRow("255 x 255") << 255 << 255;
}

void TestSensorMap::cellsTileTheMap()
{
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    // Bytes 1 to 84 are greys that are neither black nor the background.
    Matrix matrix(270340);
    for (size_t i = 0; i < matrix.size(); ++i)
        matrix[i] = static_cast<unsigned char>(1 + i % 84);
    for (Painting painting : {Painting::Image, Painting::OneFillPerCell}) {
        const QImage image = render(reused, painting, matrix, layoutX, layoutY, touchBlock(0, {}));
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (Map.contains(x, y)) {
                    const bool isGrey = qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel) && qRed(pixel) > 0;
                    QVERIFY2(isGrey, qPrintable(QStringLiteral("gap at %1, %2").arg(x).arg(y)));
                } else {
                    QVERIFY2(pixel == Background, qPrintable(QStringLiteral("paint outside the map at %1, %2").arg(x).arg(y)));
                }
            }
        }
    }
}

void TestSensorMap::cellOrderAndEdges()
{
    // Byte i holds 10 + i, whose grey is 30 + 3 i; cell (x, y) is byte 3 x + y.
    Matrix matrix = filledMatrix(0);
    for (int i = 0; i < 21; ++i)
        matrix[i] = static_cast<unsigned char>(10 + i);
    const QImage image = render(reused, Painting::Image, matrix, 7, 3, touchBlock(0, {}));
    QCOMPARE(image.pixel(15, 70), grey(30));     // cell (0, 0)
    QCOMPARE(image.pixel(128, 70), grey(30));    // last column of cell (0, 0)
    QCOMPARE(image.pixel(129, 70), grey(39));    // cell (1, 0), byte 3
    QCOMPARE(image.pixel(15, 269), grey(30));    // last row of cell (0, 0)
    QCOMPARE(image.pixel(15, 270), grey(33));    // cell (0, 1), byte 1
    QCOMPARE(image.pixel(699, 470), grey(81));   // cell (5, 2), byte 17
    QCOMPARE(image.pixel(700, 470), grey(90));   // cell (6, 2), byte 20
    QCOMPARE(image.pixel(814, 669), grey(90));
    QCOMPARE(image.pixel(814, 469), grey(87));   // cell (6, 1), byte 19
}

void TestSensorMap::touchDiscPlacement_data()
{
    QTest::addColumn<QPoint>("touch");
    QTest::addColumn<QRect>("disc");   // the 16 x 16 box of the disc
    QTest::newRow("4095, 4095") << QPoint(4095, 4095) << QRect(QPoint(807, 662), QPoint(822, 677));
    QTest::newRow("0, 0") << QPoint(0, 0) << QRect(QPoint(7, 62), QPoint(22, 77));
    QTest::newRow("2048, 1024") << QPoint(2048, 1024) << QRect(QPoint(407, 212), QPoint(422, 227));
}

void TestSensorMap::touchDiscPlacement()
{
    QFETCH(QPoint, touch);
    QFETCH(QRect, disc);
    for (Painting painting : {Painting::Image, Painting::OneFillPerCell}) {
        const QImage image = render(painting, filledMatrix(20), 16, 12, touchBlock(1, {touch}));
        // The rasteriser may leave out an edge row or column of the box.
        const QRect red = boundingBox(image, Red);
        QVERIFY2(disc.contains(red), qPrintable(QStringLiteral("disc at %1, %2").arg(red.x()).arg(red.y())));
        QVERIFY(red.width() >= 15 && red.height() >= 15);
        QCOMPARE(image.pixel(disc.center() + QPoint(1, 1)), Red);
    }
}

void TestSensorMap::touchCount_data()
{
    QTest::addColumn<int>("countByte");
    QTest::addColumn<int>("discs");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("30") << 30 << 30;
    QTest::newRow("31") << 31 << 31;
    QTest::newRow("32") << 32 << 31;
    QTest::newRow("255") << 255 << 31;
}

void TestSensorMap::touchCount()
{
    QFETCH(int, countByte);
    QFETCH(int, discs);
    const QImage one = render(Painting::Image, filledMatrix(0), 10, 10, touchBlock(1, spreadPoints()));
    const int discPixels = countPixels(one, Red);
    QVERIFY(discPixels > 150);

    TouchBlock block = touchBlock(countByte, spreadPoints());
    const QImage image = render(Painting::Image, filledMatrix(0), 10, 10, block);
    QCOMPARE(countPixels(image, Red), discs * discPixels);
}

void TestSensorMap::zeroLayoutDrawsDiscsOnly_data()
{
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::newRow("0 x 7") << 0 << 7;
    QTest::newRow("7 x 0") << 7 << 0;
    QTest::newRow("0 x 0") << 0 << 0;
    QTest::newRow("-1 x 7") << -1 << 7;
}

void TestSensorMap::zeroLayoutDrawsDiscsOnly()
{
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    const TouchBlock touch = touchBlock(1, {QPoint(2048, 2048)});
    const QImage disc = render(Painting::Image, filledMatrix(0), 0, 0, touch);
    for (Painting painting : {Painting::Image, Painting::OneFillPerCell}) {
        const QImage image = render(reused, painting, filledMatrix(100), layoutX, layoutY, touch);
        QCOMPARE(countPixels(image, Background) + countPixels(image, Red), image.width() * image.height());
        QCOMPARE(image, disc);
    }
}

void TestSensorMap::sameAsOneFillPerCell_data()
{
    QTest::addColumn<int>("layoutX");
    QTest::addColumn<int>("layoutY");
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("countByte");
    QTest::addColumn<QVector<QPoint>>("points");
    QTest::addColumn<QRect>("clip");

    const QVector<QPoint> corners{{0, 0}, {4095, 0}, {0, 4095}, {4095, 4095}, {2047, 2047}, {65535, 65535}};
    QTest::newRow("1 x 1") << 1 << 1 << 1u << 0 << QVector<QPoint>() << QRect();
    QTest::newRow("7 x 3") << 7 << 3 << 2u << 6 << corners << QRect();
    QTest::newRow("255 x 255") << 255 << 255 << 3u << 6 << corners << QRect();
    QTest::newRow("40 x 30") << 40 << 30 << 4u << 255 << spreadPoints() << QRect();
    QTest::newRow("0 x 30") << 0 << 30 << 5u << 3 << corners << QRect();
    QTest::newRow("30 x 0") << 30 << 0 << 6u << 3 << corners << QRect();
    QTest::newRow("0 x 0") << 0 << 0 << 7u << 0 << corners << QRect();
    QTest::newRow("255 x 1") << 255 << 1 << 8u << 2 << corners << QRect();
    QTest::newRow("1 x 255") << 1 << 255 << 9u << 2 << corners << QRect();
    QTest::newRow("13 x 200") << 13 << 200 << 10u << 31 << spreadPoints() << QRect();
    QTest::newRow("254 x 253") << 254 << 253 << 11u << 1 << corners << QRect();
    QTest::newRow("1 x 1 again") << 1 << 1 << 12u << 0 << QVector<QPoint>() << QRect();
    QTest::newRow("300 x 300") << 300 << 300 << 13u << 0 << QVector<QPoint>() << QRect();
    QTest::newRow("64 x 48 clipped") << 64 << 48 << 14u << 6 << corners << QRect(100, 100, 333, 222);
}

void TestSensorMap::sameAsOneFillPerCell()
{
    QFETCH(int, layoutX);
    QFETCH(int, layoutY);
    QFETCH(unsigned, seed);
    QFETCH(int, countByte);
    QFETCH(QVector<QPoint>, points);
    QFETCH(QRect, clip);
    const Matrix matrix = randomMatrix(seed);
    const TouchBlock touch = touchBlock(countByte, points);
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        const QImage plain = render(reused, Painting::OneFillPerCell, matrix, layoutX, layoutY, touch, format, clip);
        const QImage image = render(reused, Painting::Image, matrix, layoutX, layoutY, touch, format, clip);
        QCOMPARE(image, plain);
    }
}

QTEST_MAIN(TestSensorMap)
#include "tst_sensormap.moc"
