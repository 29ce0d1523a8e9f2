#include "ui/statistics_chart.h"

#include <QChart>
#include <QPen>
#include <algorithm>
#include <cmath>

#include "sim/core/statistics.h"

namespace {

constexpr int kFlushMilliseconds = 250;
// The smallest tick interval of the steps axis.
constexpr double kWholeSteps = 1.0;

enum SeriesIndex : int {
    kSuccessfulSeries = 0,
    kMaxMarkSeries = 1,
    kTravelTimeSeries = 2,
    kMigratedSeries = 3,
    kReturningSeries = 4,
};

struct SeriesLook {
    const char* title;
    bool leftAxis;
    int lineWidth;  // 0: the chart's own default
};

constexpr SeriesLook kLooks[StatisticsChart::kSeriesCount] = {
    {"successful Ag`s", false, 0},
    {"max mark", false, 1},
    {"avg travel time", true, 2},
    {"migrated Ag`s", false, 1},
    {"returning", false, 2},
};

// A tick spacing of 1, 2 or 5 times a power of ten giving about five ticks, and
// never less than `smallest`.
double TickInterval(double span, double smallest)
{
    const double rough = std::max(span / 5.0, smallest);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * power >= rough) return factor * power;
    return 10.0 * power;
}

void UseTicksEvery(QValueAxis* axis, double interval)
{
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    axis->setTickInterval(interval);
}

// The axis spans exactly the data; an axis over a single value still needs a span.
// The steps axis has ticks at whole steps only: its smallest interval is 1.
void SetFittedRange(QValueAxis* axis, double low, double high, double smallestInterval = 0.0)
{
    if (high <= low) {
        low -= 1.0;
        high += 1.0;
    }
    // Each change lays the axis out again with the other value as it stands;
    // the order keeps that intermediate layout from having a flood of ticks.
    const double interval = TickInterval(high - low, smallestInterval);
    if (interval >= axis->tickInterval()) {
        axis->setTickInterval(interval);
        axis->setRange(low, high);
    } else {
        axis->setRange(low, high);
        axis->setTickInterval(interval);
    }
}

}  // namespace

StatisticsChart::StatisticsChart(QWidget* parent) : QChartView(parent)
{
    // The view comes with a chart of its own; a second one given to setChart()
    // would leave this one released and never freed.
    QChart* chart = this->chart();
    chart->setBackgroundRoundness(0);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignRight);

    bottom_ = new QValueAxis(chart);
    left_ = new QValueAxis(chart);
    right_ = new QValueAxis(chart);
    bottom_->setLabelFormat("%g");
    left_->setLabelFormat("%g");
    right_->setLabelFormat("%g");
    right_->setRange(0, 101);
    UseTicksEvery(right_, 20.0);
    UseTicksEvery(left_, 1.0);
    UseTicksEvery(bottom_, 1.0);
    SetFittedRange(left_, 0.0, 1.0);
    SetFittedRange(bottom_, 0.0, 1.0, kWholeSteps);
    chart->addAxis(bottom_, Qt::AlignBottom);
    chart->addAxis(left_, Qt::AlignLeft);
    chart->addAxis(right_, Qt::AlignRight);

    // The design-time series; the first set-up removes it before anything is plotted.
    auto* placeholder = new QLineSeries();
    placeholder->setName("Series1");
    chart->addSeries(placeholder);
    placeholder->setColor(Qt::red);

    setRenderHint(QPainter::Antialiasing, false);

    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushMilliseconds);
    connect(&flushTimer_, &QTimer::timeout, this, &StatisticsChart::Flush);
}

void StatisticsChart::CreateChartSeries()
{
    flushTimer_.stop();
    QChart* chart = this->chart();
    chart->removeAllSeries();
    chart->setTitle("average values");

    for (int i = 0; i < kSeriesCount; ++i) {
        auto* series = new QLineSeries();
        series->clear();
        series->setName(kLooks[i].title);
        chart->addSeries(series);
        series->attachAxis(bottom_);
        series->attachAxis(kLooks[i].leftAxis ? left_ : right_);
        if (kLooks[i].lineWidth > 0) {
            QPen pen = series->pen();
            pen.setWidth(kLooks[i].lineWidth);
            series->setPen(pen);
        }
        tracks_[i] = Track{series, {}, 0};
    }
    plotted_.clear();
    haveX_ = false;
    haveLeft_ = false;
    SetFittedRange(bottom_, 0.0, 1.0, kWholeSteps);
    SetFittedRange(left_, 0.0, 1.0);
}

void StatisticsChart::PlotStatistics(const StepStatistics& statistics)
{
    plotted_.push_back(statistics);
    const double x = statistics.step;
    Append(kSuccessfulSeries, x, statistics.successful);
    Append(kTravelTimeSeries, x, statistics.averageTravel);
    Append(kMaxMarkSeries, x, statistics.maxMark);
    Append(kMigratedSeries, x, statistics.migrated);
    Append(kReturningSeries, x, statistics.returning);

    if (!haveX_) minX_ = maxX_ = x;
    minX_ = std::min(minX_, x);
    maxX_ = std::max(maxX_, x);
    haveX_ = true;
    const double travel = statistics.averageTravel;
    if (!haveLeft_) minLeft_ = maxLeft_ = travel;
    minLeft_ = std::min(minLeft_, travel);
    maxLeft_ = std::max(maxLeft_, travel);
    haveLeft_ = true;

    if (!coalescing_) Flush();
    else if (!flushTimer_.isActive()) flushTimer_.start();
}

void StatisticsChart::Append(int track, double x, double y)
{
    if (tracks_[track].series) tracks_[track].points.append(QPointF(x, y));
}

void StatisticsChart::SetCoalescing(bool on)
{
    coalescing_ = on;
    if (!on) Flush();
}

void StatisticsChart::Flush()
{
    flushTimer_.stop();
    for (Track& track : tracks_) {
        if (!track.series || track.shown == track.points.size()) continue;
        // One replacement re-lays the series once; appending point by point
        // would re-lay it for every point.
        track.series->replace(track.points);
        track.shown = track.points.size();
    }
    FitAxes();
}

void StatisticsChart::FitAxes()
{
    if (haveX_) SetFittedRange(bottom_, minX_, maxX_, kWholeSteps);
    if (haveLeft_) SetFittedRange(left_, minLeft_, maxLeft_);
}

QList<QLineSeries*> StatisticsChart::Series() const
{
    QList<QLineSeries*> result;
    for (QAbstractSeries* series : chart()->series())
        if (auto* line = qobject_cast<QLineSeries*>(series)) result.append(line);
    return result;
}
