#ifndef WAVEGRAPH_H
#define WAVEGRAPH_H

#include <QWidget>

class Param;
class QPainter;

// Bar chart of one axis' channel signals, red below the detection threshold
// and blue at or above it, with the threshold drawn as a line.
class WaveGraph : public QWidget
{
    Q_OBJECT

public:
    enum { ChartWidth = 740, ChartHeight = 250 };

    WaveGraph(QWidget *parent, int *samples, int count);

    // Replaces the number of bars; the owner repaints when it is ready.
    void setWaveGraphParam(int count);

    // Height in pixels, 0 to 250, of the bar for a sample value.
    static int barHeight(int value);
    // Height of the threshold line above the chart's bottom; not bounded, so
    // a threshold above 150 lies above the chart.
    static int thresholdHeight(int threshold);
    // Draws the whole chart at (0, 0); the outline and the threshold line use
    // the painter's current pen.
    static void paintChart(QPainter &painter, const int *samples, int count, int threshold);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Param *param;
    int *samples;
    int count;
};

#endif // WAVEGRAPH_H
