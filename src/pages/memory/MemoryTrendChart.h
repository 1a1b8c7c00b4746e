#pragma once
#include "services/MemorySnapshot.h"

#include <QChartView>
#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// The memory page's trend: the compressor and the swap in use, in GiB, one point per kept
// sample over time. A sample without a swap reading adds no swap point, so a gap is never
// drawn as zero. Colours follow the application palette.
class MemoryTrendChart : public QChartView {
    Q_OBJECT
public:
    explicit MemoryTrendChart(QWidget* parent = nullptr);

    void setSamples(const std::vector<MemorySnapshot>& samples);

    QLineSeries* compressedSeries() const { return compressed_; }
    QLineSeries* swapSeries() const { return swap_; }
    QValueAxis* valueAxis() const { return value_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    QLineSeries* compressed_ = nullptr;
    QLineSeries* swap_ = nullptr;
    QDateTimeAxis* time_ = nullptr;
    QValueAxis* value_ = nullptr;

    void applyColours();
};
