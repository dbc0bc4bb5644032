#include "signalviews/WaveGraph.h"

#include "driverlink/Param.h"

#include <QPainter>

WaveGraph::WaveGraph(QWidget *parent, int *samples, int count)
    : QWidget(parent), param(Param::getInst()), samples(samples), count(count)
{
}

void WaveGraph::setWaveGraphParam(int count)
{
    this->count = count;
}

int WaveGraph::barHeight(int value)
{
    if (value > 149)
        return ChartHeight;
    if (value < -3)
        value = -3;
    return (value * ChartHeight + 750) / 153;
}

int WaveGraph::thresholdHeight(int threshold)
{
    return (threshold * ChartHeight + 750) / 153;
}

void WaveGraph::paintChart(QPainter &painter, const int *samples, int count, int threshold)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    const int lineHeight = thresholdHeight(threshold);
    // Beyond 740 bars every bar would be narrower than a pixel, so none is drawn
    // (and no sample is read).
    if (count > 0 && count <= ChartWidth) {
        for (int i = 0; i < count; ++i) {
            const int left = i * ChartWidth / count;
            const int right = (i + 1) * ChartWidth / count - 1;
            const int height = barHeight(samples[i]);
            const QColor colour = height < lineHeight ? QColor(Qt::red) : QColor(Qt::blue);
            painter.fillRect(QRect(left, ChartHeight - height, right - left + 1, height), colour);
        }
    }
    painter.restore();

    painter.drawRect(QRect(0, 0, ChartWidth, ChartHeight));
    painter.drawLine(0, ChartHeight - lineHeight, ChartWidth, ChartHeight - lineHeight);
}

void WaveGraph::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintChart(painter, samples, count, param->threshold);
}
