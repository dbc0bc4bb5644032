#include "signalviews/Graph.h"

#include "app/Geometry.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "signalviews/WaveGraph.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>

namespace {

// Where the channel labels sit: just under the top edge of each chart.
const int LabelLeft = 15;
const int LabelTopX = 66;
const int LabelTopY = 331;
const int LabelHeight = 15;

} // namespace

Graph::Graph()
    : QDialog(nullptr)
{
    const Product &product = Product::active();
    const bool waveGraphs = product.signalView == SignalView::WaveGraphs;

    param = Param::getInst();
    if (!waveGraphs)
        resize(toSize(product.graph.size));

    slider = new QSlider(this);
    slider->setObjectName(QStringLiteral("thresholdSlider"));
    minusButton = new QPushButton(this);
    minusButton->setObjectName(QStringLiteral("minusButton"));
    plusButton = new QPushButton(this);
    plusButton->setObjectName(QStringLiteral("plusButton"));
    thresholdLabel = new QLabel(this);
    thresholdLabel->setObjectName(QStringLiteral("thresholdLabel"));
    if (waveGraphs) {
        // The charts paint before the first tick lays them out, so they start
        // from counts their 128 values can hold.
        const KerDecode::GraphChannels counts = channels();
        waveGraphX = new WaveGraph(this, param->waveX, counts.x);
        waveGraphX->setObjectName(QStringLiteral("waveGraphX"));
        waveGraphY = new WaveGraph(this, param->waveY, counts.y);
        waveGraphY->setObjectName(QStringLiteral("waveGraphY"));
    }

    setWindowTitle(tr(product.graph.title));
    minusButton->setText(tr("-"));
    plusButton->setText(tr("+"));
    thresholdLabel->setText(thresholdText());

    slider->setMinimum(product.threshold.minimum);
    slider->setMaximum(product.threshold.maximum);
    slider->setPageStep(1);
    slider->setOrientation(Qt::Horizontal);
    slider->setValue(param->threshold);

    thresholdLabel->setGeometry(toRect(product.graph.thresholdLabel));
    minusButton->setGeometry(toRect(product.graph.minusButton));
    slider->setGeometry(toRect(product.graph.slider));
    plusButton->setGeometry(toRect(product.graph.plusButton));
    if (waveGraphs) {
        waveGraphX->setGeometry(15, 65, WaveGraph::ChartWidth + 1, WaveGraph::ChartHeight + 1);
        waveGraphY->setGeometry(15, 330, WaveGraph::ChartWidth + 1, WaveGraph::ChartHeight + 1);
        resize(toSize(product.graph.size));
    }

    timer = new QTimer(this);
    timer->start(product.graphPollMs);
    connect(timer, SIGNAL(timeout()), this, waveGraphs ? SLOT(repaint()) : SLOT(rePaint()));
    connect(slider, SIGNAL(valueChanged(int)), this, SLOT(thresholdChanged()));
    connect(minusButton, SIGNAL(clicked()), this, SLOT(subThreshold()));
    connect(plusButton, SIGNAL(clicked()), this, SLOT(addThreshold()));

    if (waveGraphs) {
        for (int i = 0; i < ChannelLabels; ++i) {
            channelLabels[i] = new QLabel(this);
            channelLabels[i]->setObjectName(QStringLiteral("channelLabel%1").arg(i));
        }
        layoutPending = true;
    }
}

void Graph::repaint()
{
    // The sensor map program keeps the plain widget meaning of the name.
    if (!waveGraphX) {
        QDialog::repaint();
        return;
    }
    if (GetGraph(samples) < 0) {
        layoutPending = true;
        return;
    }
    if (layoutPending) {
        layoutPending = false;
        (void)GetBasicStatus(param);
        layOutChannels();
    }

    const KerDecode::GraphChannels counts = channels();
    std::copy(samples, samples + counts.x, param->waveX);
    std::copy(samples + counts.x, samples + counts.x + counts.y, param->waveY);
    waveGraphX->update();
    waveGraphY->update();
}

void Graph::thresholdChanged()
{
    param->threshold = slider->value();
    (void)SetThreshold(param);
    thresholdLabel->setText(thresholdText());
}

void Graph::addThreshold()
{
    slider->setValue(slider->value() + 1);
}

void Graph::subThreshold()
{
    slider->setValue(slider->value() - 1);
}

void Graph::rePaint()
{
    if (waveGraphX)
        return;
    // Only the map changes: the buttons, slider and label above it are left
    // alone, and the discs last painted outside the map are wiped.
    if (GetMatrix(param, 66) > 0 && GetTouchPoint(param) > 0)
        update(SensorMap::paintedArea(param->touchData) | lastMapArea);
}

void Graph::paintEvent(QPaintEvent *event)
{
    if (waveGraphX) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    sensorMap.paint(painter, param->matrix, param->layoutX, param->layoutY, param->touchData);
    lastMapArea = SensorMap::paintedArea(param->touchData);
}

void Graph::layOutChannels()
{
    const KerDecode::GraphChannels counts = channels();
    waveGraphX->setWaveGraphParam(counts.x);
    waveGraphY->setWaveGraphParam(counts.y);

    // The numbering runs on from the X channels into the Y channels.
    for (int i = 0; i < counts.x; ++i) {
        channelLabels[i]->setGeometry(LabelLeft + i * WaveGraph::ChartWidth / counts.x, LabelTopX,
                                      WaveGraph::ChartWidth / counts.x, LabelHeight);
        channelLabels[i]->setText(QString::number(i + 1));
    }
    if (counts.y == 0)
        return;
    for (int i = counts.x; i < counts.labels; ++i) {
        const int j = i - counts.x;
        channelLabels[i]->setGeometry(LabelLeft + j * WaveGraph::ChartWidth / counts.y, LabelTopY,
                                      WaveGraph::ChartWidth / counts.y, LabelHeight);
        channelLabels[i]->setText(QString::number(i + 1));
    }
}

KerDecode::GraphChannels Graph::channels() const
{
    return KerDecode::graphChannels(param->layoutX, param->layoutY, param->channelCount);
}

QString Graph::thresholdText() const
{
    return tr("Threshold:") + QString::number(param->threshold);
}
