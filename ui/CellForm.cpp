#include "ui/CellForm.h"

#include <QFrame>
#include <exception>
#include <optional>

#include "sim/controls/control_handlers.h"
#include "sim/controls/usage_table.h"
#include "sim/core/setup.h"
#include "sim/core/time_step.h"
#include "sim/io/run_state.h"
#include "ui/chart_exports.h"
#include "ui/control_binder.h"
#include "ui/drawing_panel.h"
#include "ui/statistics_chart.h"
#include "ui/usage_grid.h"
#include "ui/wake_ups.h"
#include "ui/window_screen.h"

namespace {

constexpr const char* kCaption = "Quorvane_04_Land Use";
// Client area of a 739 x 741 window once its frame and caption are taken off.
constexpr int kClientWidth = 731;
constexpr int kClientHeight = 705;

MouseButton ToMouseButton(Qt::MouseButton button)
{
    if (button == Qt::LeftButton) return MouseButton::Left;
    if (button == Qt::RightButton) return MouseButton::Right;
    return MouseButton::Other;
}

void ShowAngle(QLabel* label, std::int32_t position)
{
    label->setText(QString::fromStdString(AngleLabel(position)));
    label->adjustSize();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), messages_(this, kCaption)
{
    setObjectName("TForm1");
    setWindowTitle(kCaption);
    // Where Tahoma is missing, a condensed face keeps the captions within the
    // widths the layout gives them.
    QFont windowFont = font();
    windowFont.setFamilies({"Tahoma", "DejaVu Sans Condensed", "Liberation Sans Narrow"});
    windowFont.setPixelSize(10);
    setFont(windowFont);
    move(0, 0);
    setFixedSize(kClientWidth, kClientHeight);

    auto* border = new QFrame(this);
    border->setObjectName("ZeichenPanelBorder");
    border->setFrameShape(QFrame::Box);
    border->setLineWidth(1);
    border->setGeometry(15, 8, DrawingLayers::kSide + 2, DrawingLayers::kSide + 2);
    zeichenPanel_ = new DrawingPanel(layers_, this);
    zeichenPanel_->setObjectName("ZeichenPanel");
    zeichenPanel_->setGeometry(16, 9, DrawingLayers::kSide, DrawingLayers::kSide);

    chart_ = new StatisticsChart(this);
    chart_->setObjectName("Chart1");
    chart_->setGeometry(8, 416, 713, 281);

    panel_ = BuildControlPanel(this, sim_.controls);

    // The run's 1 ms ticks come on time only when the window's thread wakes on time.
    EndSleepsOnTime();
    timer_ = new QTimer(this);
    timer_->setObjectName("Timer1");
    timer_->setInterval(1);
    timer_->setTimerType(Qt::PreciseTimer);

    screen_ = std::make_unique<WindowScreen>(
        sim_, WindowScreen::Parts{&layers_, zeichenPanel_, chart_, panel_.lbl_Steps, timer_});
    sim_.SetScreen(screen_.get());
    sim_.SetEvents(screen_.get());

    // Program start: the first run, the field chooser, the usage table.
    ::FormCreate(sim_);
    panel_.CB_FieldNr->addItems({"1", "2", "3"});
    panel_.CB_FieldNr->setCurrentIndex(0);
    panel_.StringGrid1->SetTexts(sim_.controls.StringGrid1);
    TrB_threshChange();
    SB_wiggleChange();

    binder_ = new ControlBinder(sim_, this, panel_.StringGrid1,
                      [this](const std::function<void()>& action) { messages_.Guarded(action); });
    WireButtons();
    new ChartExports(*this);  // the chart's context menu, a child of the window
}

TForm1::~TForm1()
{
    timer_->stop();
    ::FormDestroy(sim_);
    sim_.SetScreen(nullptr);
    sim_.SetEvents(nullptr);
}

void TForm1::SetMessageSink(MessageQueue::Sink sink)
{
    messages_.SetSink(std::move(sink));
}

void TForm1::WireButtons()
{
    connect(panel_.B_setup, &QPushButton::clicked, this, &TForm1::B_setupClick);
    connect(panel_.B_stop, &QPushButton::clicked, this, &TForm1::B_stopClick);
    connect(panel_.B_oneStep, &QPushButton::clicked, this, &TForm1::B_oneStepClick);
    connect(timer_, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(panel_.B_reset, &QPushButton::clicked, this, &TForm1::B_resetClick);
    connect(panel_.B_repaint, &QPushButton::clicked, this, &TForm1::B_repaintClick);
    connect(panel_.StringGrid1, &UsageGrid::keyReleased, this, &TForm1::StringGrid1KeyUp);
    connect(panel_.TrB_thresh, &QScrollBar::valueChanged, this, &TForm1::TrB_threshChange);
    connect(panel_.SB_wiggle, &QScrollBar::valueChanged, this, &TForm1::SB_wiggleChange);

    connect(zeichenPanel_, &DrawingPanel::mousePressed, this, &TForm1::ZeichenPanelMouseDown);
    connect(zeichenPanel_, &DrawingPanel::mouseMoved, this, &TForm1::ZeichenPanelMouseMove);
    connect(zeichenPanel_, &DrawingPanel::mouseReleased, this, [this] { ZeichenPanelMouseUp(); });
}

QString TForm1::OpenRunState(const QByteArray& bytes)
{
    std::vector<StepStatistics> history;
    try {
        history = DecodeRunState(sim_, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    } catch (const RunStateError& error) {
        return QString::fromStdString(error.what());
    }
    screen_->StopRequested();
    mouse_ = MouseEditingState{};
    binder_->ShowValues();
    TrB_threshChange();
    SB_wiggleChange();
    screen_->ShowLoadedRun(history);
    return {};
}

// ---- buttons and timer ----

void TForm1::B_setupClick()
{
    if (messages_.Guarded([this] { ::B_setupClick(sim_); })) {
        TrB_threshChange();
        SB_wiggleChange();
    }
    zeichenPanel_->ScheduleRepaint();
}

void TForm1::StartTimer()
{
    screen_->SetCoalescing(true);
    timer_->start();
}

void TForm1::B_stopClick()
{
    if (timer_->isActive()) screen_->StopRequested();
    else StartTimer();
}

void TForm1::RunStep()
{
    // A step that fails stops the timer before its message shows, so no tick runs
    // another failing step while the message box waits, and the message shows once.
    std::optional<QString> failure;
    try {
        ::TimeStep(sim_);
    } catch (const std::exception& error) {
        failure = QString::fromStdString(error.what());
    }
    if (failure) {
        screen_->StopRequested();
        messages_.Show(*failure);
    }
}

void TForm1::B_oneStepClick()
{
    RunStep();
}

void TForm1::Timer1Timer()
{
    RunStep();
}

void TForm1::B_resetClick()
{
    messages_.Guarded([this] { ::ResetUsageTable(sim_.controls, sim_.usage); });
    panel_.StringGrid1->SetTexts(sim_.controls.StringGrid1);
}

void TForm1::StringGrid1KeyUp()
{
    messages_.Guarded([this] { ::StringGrid1KeyUp(sim_); });
}

void TForm1::B_repaintClick()
{
    messages_.Guarded([this] { ::B_repaintClick(sim_); });
}

void TForm1::TrB_threshChange()
{
    ShowAngle(panel_.Lbl_B, sim_.controls.TrB_thresh);
}

void TForm1::SB_wiggleChange()
{
    ShowAngle(panel_.Lbl_wiggle, sim_.controls.SB_wiggle);
}

// ---- mouse ----

void TForm1::ZeichenPanelMouseDown(Qt::MouseButton button, bool ctrl, int x, int y)
{
    ::MouseDown(sim_, mouse_, ToMouseButton(button), ctrl, x, y);
}

void TForm1::ZeichenPanelMouseMove(int x, int y)
{
    ::MouseMove(sim_, mouse_, x, y);
}

void TForm1::ZeichenPanelMouseUp()
{
    ::MouseUp(mouse_);
}
