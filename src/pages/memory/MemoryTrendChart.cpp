#include "pages/memory/MemoryTrendChart.h"

#include "engine/Dates.h"
#include "shell/LocalizedText.h"
#include "shell/style/Palette.h"
#include "shell/style/Typography.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr double kGibibyte = 1073741824.0;

qreal gibibytes(uint64_t bytes) { return static_cast<qreal>(static_cast<double>(bytes) / kGibibyte); }

qreal milliseconds(double date) { return static_cast<qreal>(unixTimeFromDate(date) * 1000.0); }

QColor swapColour() { return Palette::isDark() ? QColor(0xff, 0xa0, 0x3c) : QColor(0xd9, 0x6c, 0x00); }

} // namespace

// Built around its own chart: the view's default chart would be made only to be replaced.
MemoryTrendChart::MemoryTrendChart(QWidget* parent) : QChartView(new QChart(), parent)
{
    setObjectName(QStringLiteral("memory-trend-chart"));
    setFixedHeight(130);
    setRenderHint(QPainter::Antialiasing);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);  // nothing in it acts on a key, and it shows no focus
    // The card shows through. Not by a style sheet: that pins the palette the view had, so an
    // appearance change would never reach it.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);

    QChart* chart = this->chart();
    chart->setBackgroundVisible(false);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setFont(Typography::caption());

    compressed_ = new QLineSeries();
    compressed_->setName(L(QStringLiteral("压缩器占用")));
    swap_ = new QLineSeries();
    swap_->setName(L(QStringLiteral("交换空间（磁盘）")));
    chart->addSeries(compressed_);
    chart->addSeries(swap_);

    time_ = new QDateTimeAxis();
    time_->setTitleText(L(QStringLiteral("时间")));
    time_->setFormat(QStringLiteral("HH:mm:ss"));
    time_->setTickCount(4);
    value_ = new QValueAxis();
    value_->setTitleText(QStringLiteral("GiB"));
    value_->setLabelFormat(QStringLiteral("%.1f"));
    value_->setTickCount(3);
    for (QAbstractAxis* axis : {static_cast<QAbstractAxis*>(time_), static_cast<QAbstractAxis*>(value_)}) {
        axis->setLabelsFont(Typography::caption());
        axis->setTitleFont(Typography::caption());
    }
    chart->addAxis(time_, Qt::AlignBottom);
    chart->addAxis(value_, Qt::AlignLeft);
    for (QLineSeries* series : {compressed_, swap_}) {
        series->attachAxis(time_);
        series->attachAxis(value_);
    }
    applyColours();
}

void MemoryTrendChart::setSamples(const std::vector<MemorySnapshot>& samples)
{
    QList<QPointF> compressed;
    QList<QPointF> swap;
    compressed.reserve(static_cast<qsizetype>(samples.size()));
    for (const MemorySnapshot& sample : samples) {
        qreal x = milliseconds(sample.date);
        compressed.append(QPointF(x, gibibytes(sample.compressed)));
        if (sample.swapUsed) swap.append(QPointF(x, gibibytes(*sample.swapUsed)));
    }
    compressed_->replace(compressed);
    swap_->replace(swap);

    // Ranges from the data: time from the first sample to the last, values from zero up.
    if (samples.empty()) return;
    auto [first, last] = std::minmax_element(samples.begin(), samples.end(),
                                             [](const auto& a, const auto& b) { return a.date < b.date; });
    qreal from = milliseconds(first->date);
    qreal to = milliseconds(last->date);
    if (to <= from) to = from + 1000;
    time_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from)),
                    QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(to)));
    qreal top = 0;
    for (const QPointF& point : compressed) top = std::max(top, point.y());
    for (const QPointF& point : swap) top = std::max(top, point.y());
    value_->setRange(0, top > 0 ? top * 1.1 : 1.0);
    value_->applyNiceNumbers();
}

void MemoryTrendChart::changeEvent(QEvent* event)
{
    QChartView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyColours();
}

void MemoryTrendChart::applyColours()
{
    QChart* chart = this->chart();
    QColor ink = Palette::ink();
    QColor muted = Palette::muted();
    QColor grid = Palette::line();
    chart->legend()->setLabelColor(ink);
    for (QAbstractAxis* axis : {static_cast<QAbstractAxis*>(time_), static_cast<QAbstractAxis*>(value_)}) {
        axis->setLabelsColor(muted);
        axis->setTitleBrush(muted);
        axis->setLinePenColor(grid);
        axis->setGridLineColor(grid);
    }
    QPen compressedPen(Palette::accent(), 2);
    compressed_->setPen(compressedPen);
    QPen swapPen(swapColour(), 2);
    swap_->setPen(swapPen);
}
