#ifndef GRAPH_H
#define GRAPH_H

#include "signalviews/SensorMap.h"

#include <QDialog>

class Param;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class WaveGraph;

// The live signal window: polls the driver on its own timer, draws the
// sensor signals (per-axis bar charts, or a grey sensor map with touch
// points) and lets the user tune the detection threshold.
class Graph : public QDialog
{
    Q_OBJECT

public:
    enum { ChannelLabels = 128, Samples = 128 };

    // Channel counts as the first program's view uses them; see boundedCounts().
    struct ChannelCounts
    {
        int x;
        int y;
        int labels;
    };

    Graph();

    // The driver's layout counts are trusted only as far as the 128-entry
    // sample answer, the 128 wave values per axis and the 128 labels reach:
    // X is cut to 128 channels, Y to the channels left after X, and the
    // labelled channels to 128. Bars, labels and the copy all use the cut
    // counts, so they stay aligned and nothing divides by a zero Y count.
    static ChannelCounts boundedCounts(int layoutX, int layoutY, int channelCount);

    // QWidget::repaint() keeps its region overloads; the bare one is the
    // first program's refresh slot below.
    using QDialog::repaint;

public slots:
    // One class serves both programs, so it declares both refresh slots:
    // repaint() polls the bar charts, rePaint() the sensor map, and the
    // constructor connects the timer to the one the product uses. Declared in
    // this order, each program's four slots keep their relative order.
    void repaint();
    void thresholdChanged();
    void addThreshold();
    void subThreshold();
    void rePaint();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void layOutChannels();
    QString thresholdText() const;

    Param *param;
    QTimer *timer = nullptr;
    QSlider *slider = nullptr;
    QPushButton *minusButton = nullptr;
    QPushButton *plusButton = nullptr;
    QLabel *thresholdLabel = nullptr;
    WaveGraph *waveGraphX = nullptr;
    WaveGraph *waveGraphY = nullptr;
    QLabel *channelLabels[ChannelLabels] = {};
    int samples[Samples] = {};
    bool layoutPending = false;
    SensorMap sensorMap;
    QRect lastMapArea;   // what the last paint of the sensor map covered
};

#endif // GRAPH_H
