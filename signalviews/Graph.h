#ifndef GRAPH_H
#define GRAPH_H

#include "driverlink/KerDriverFunc.h"
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
    // One channel label per sample of the graph answer.
    enum { ChannelLabels = KerDecode::GraphLength };

    Graph();

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
    KerDecode::GraphChannels channels() const;
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
    int samples[KerDecode::GraphLength] = {};
    bool layoutPending = false;
    SensorMap sensorMap;
    QRect lastMapArea;   // what the last paint of the sensor map covered
};

#endif // GRAPH_H
