#pragma once
#include <QChartView>
#include <QLineSeries>
#include <QList>
#include <QPointF>
#include <QTimer>
#include <QValueAxis>
#include <array>
#include <vector>

#include "sim/core/statistics.h"

// The chart of five statistics per step. Every step's point is kept at once;
// the series on screen catch up with it at once when steps come one at a time,
// and at screen rate while the timer runs, so the chart never limits the run.
class StatisticsChart : public QChartView {
    Q_OBJECT
public:
    static constexpr int kSeriesCount = 5;

    explicit StatisticsChart(QWidget* parent = nullptr);

    // Removes every series and creates the five empty series of a run.
    void CreateChartSeries();
    // Appends one point (x = the step) to each series.
    void PlotStatistics(const StepStatistics& statistics);

    // While on, appended points reach the series at most once per frame.
    void SetCoalescing(bool on);
    // Brings the series and the fitted axes up to date with every point plotted.
    void Flush();

    // Every step plotted since the last set-up, as plotted, in order.
    const std::vector<StepStatistics>& PlottedSteps() const { return plotted_; }

    QList<QLineSeries*> Series() const;
    QValueAxis* BottomAxis() const { return bottom_; }

private:
    struct Track {
        QLineSeries* series = nullptr;
        QList<QPointF> points;
        qsizetype shown = 0;
    };

    void Append(int track, double x, double y);
    void FitAxes();

    QValueAxis* bottom_ = nullptr;
    QValueAxis* left_ = nullptr;
    QValueAxis* right_ = nullptr;
    std::array<Track, kSeriesCount> tracks_{};
    std::vector<StepStatistics> plotted_;
    bool coalescing_ = false;
    QTimer flushTimer_;
    bool haveX_ = false;
    double minX_ = 0.0, maxX_ = 0.0;
    bool haveLeft_ = false;
    double minLeft_ = 0.0, maxLeft_ = 0.0;
};
