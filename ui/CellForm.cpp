#include "CellForm.h"

#include <QFrame>
#include <QMessageBox>
#include <exception>

#include "chart_exports.h"
#include "control_handlers.h"
#include "conversion.h"
#include "display_range.h"
#include "drawing_panel.h"
#include "setup.h"
#include "statistics.h"
#include "statistics_chart.h"
#include "time_step.h"
#include "usage_grid.h"
#include "usage_table.h"

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

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), sim_(this)
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

    controls_ = BuildControlPanel(this, sim_.controls);

    timer_ = new QTimer(this);
    timer_->setObjectName("Timer1");
    timer_->setInterval(1);
    timer_->setTimerType(Qt::PreciseTimer);

    // Program start: the first run, the field chooser, the usage table.
    ::FormCreate(sim_);
    controls_.CB_FieldNr->addItems({"1", "2", "3"});
    controls_.CB_FieldNr->setCurrentIndex(0);
    controls_.StringGrid1->SetTexts(sim_.controls.StringGrid1);
    WriteAngleLabels();

    WireControls();
    new ChartExports(*this);  // the chart's context menu, a child of the window
}

TForm1::~TForm1()
{
    timer_->stop();
    ::FormDestroy(sim_);
    sim_.SetHooks(nullptr);
}

void TForm1::SetMessageSink(MessageSink sink)
{
    messageSink_ = std::move(sink);
}

void TForm1::ShowError(const QString& message)
{
    if (messageSink_) {
        messageSink_(message);
        return;
    }
    // One box at a time: a message raised while a box is open (a timer tick runs in
    // the box's event loop) waits until that box is closed, and a message that is
    // already waiting is not queued twice.
    if (!pendingMessages_.contains(message)) pendingMessages_.push_back(message);
    if (showingMessage_) return;
    showingMessage_ = true;
    while (!pendingMessages_.isEmpty()) {
        QMessageBox box(QMessageBox::Critical, kCaption, pendingMessages_.front(), QMessageBox::Ok, this);
        box.exec();
        pendingMessages_.pop_front();
    }
    showingMessage_ = false;
}

template <typename Handler>
bool TForm1::Guarded(Handler&& handler)
{
    try {
        handler();
        return true;
    } catch (const std::exception& error) {  // conversion errors and any other failure
        ShowError(QString::fromStdString(error.what()));
    }
    return false;
}

// ---- wiring of the controls ----

void TForm1::SyncEdit(QLineEdit* edit, const std::string& text)
{
    const QString wanted = QString::fromStdString(text);
    if (edit->text() != wanted) edit->setText(wanted);  // raises the change again, as typing would
}

void TForm1::WireEdit(QLineEdit* edit, std::string ControlState::*field, std::function<void()> handler)
{
    connect(edit, &QLineEdit::textChanged, this, [this, field, handler](const QString& text) {
        sim_.controls.*field = text.toStdString();
        if (handler) handler();
    });
}

void TForm1::WireCheckBox(QCheckBox* box, bool ControlState::*field, std::function<void()> handler)
{
    connect(box, &QCheckBox::toggled, this, [this, field, handler](bool checked) {
        sim_.controls.*field = checked;
        if (handler) handler();
    });
}

void TForm1::WireControls()
{
    ControlPanel& c = controls_;
    ControlState& state = sim_.controls;

    connect(c.B_setup, &QPushButton::clicked, this, &TForm1::B_setupClick);
    connect(c.B_stop, &QPushButton::clicked, this, &TForm1::B_stopClick);
    connect(c.B_oneStep, &QPushButton::clicked, this, &TForm1::B_oneStepClick);
    connect(timer_, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(c.B_reset, &QPushButton::clicked, this, &TForm1::B_resetClick);
    connect(c.B_repaint, &QPushButton::clicked, this, &TForm1::B_repaintClick);

    // Edit_size, E_crServ and E_crIndu share the cell-size check.
    const auto cellSizeCheck = [this] {
        Guarded([this] { ::Edit_sizeChange(sim_.controls); });
        SyncEdit(controls_.Edit_size, sim_.controls.Edit_size);
    };
    WireEdit(c.Edit_anzAg, &ControlState::Edit_anzAg);
    WireEdit(c.Edit_size, &ControlState::Edit_size, cellSizeCheck);
    WireEdit(c.E_crAgs, &ControlState::E_crAgs);
    WireEdit(c.E_crServ, &ControlState::E_crServ, cellSizeCheck);
    WireEdit(c.E_crIndu, &ControlState::E_crIndu, cellSizeCheck);
    WireEdit(c.E_decay, &ControlState::E_decay);
    WireEdit(c.E_CProbab, &ControlState::E_CProbab);
    WireEdit(c.E_migTh, &ControlState::E_migTh);
    WireEdit(c.E_noise, &ControlState::E_noise, [this] {
        ::E_noiseChange(sim_.controls);
        SyncEdit(controls_.E_noise, sim_.controls.E_noise);
    });
    WireEdit(c.E_grav, &ControlState::E_grav, [this] { E_gravChange(); });
    WireEdit(c.E_stop, &ControlState::E_stop, [this] { Guarded([this] { ::E_stopChange(sim_); }); });

    connect(c.TrB_thresh, &QScrollBar::valueChanged, this, [this](int position) {
        sim_.controls.TrB_thresh = position;
        controls_.Lbl_B->setText(QString::fromStdString(AngleLabel(position)));
        controls_.Lbl_B->adjustSize();
    });
    connect(c.SB_wiggle, &QScrollBar::valueChanged, this, [this](int position) {
        sim_.controls.SB_wiggle = position;
        controls_.Lbl_wiggle->setText(QString::fromStdString(AngleLabel(position)));
        controls_.Lbl_wiggle->adjustSize();
    });

    // Radio pairs: the state of both buttons is copied whenever either changes;
    // a newly checked return-mode button sets the return mode at once.
    const auto sniffMethod = [this] {
        sim_.controls.rb_rulette = controls_.rb_rulette->isChecked();
        sim_.controls.rb_hill = controls_.rb_hill->isChecked();
    };
    connect(c.rb_rulette, &QRadioButton::toggled, this, sniffMethod);
    connect(c.rb_hill, &QRadioButton::toggled, this, sniffMethod);
    const auto returnMode = [this](bool checked) {
        sim_.controls.rb_direct = controls_.rb_direct->isChecked();
        sim_.controls.rb_hillCl = controls_.rb_hillCl->isChecked();
        if (checked) ::RadioGroup2Click(sim_);
    };
    connect(c.rb_direct, &QRadioButton::toggled, this, returnMode);
    connect(c.rb_hillCl, &QRadioButton::toggled, this, returnMode);

    WireCheckBox(c.CB_decay, &ControlState::CB_decay);
    WireCheckBox(c.CB_migrate, &ControlState::CB_migrate);
    WireCheckBox(c.CB_noTracks, &ControlState::CB_noTracks, [this] { CB_noTracksClick(); });
    WireCheckBox(c.CB_showOrig, &ControlState::CB_showOrig, [this] { CB_showABClick(); });
    WireCheckBox(c.CB_showAB, &ControlState::CB_showAB, [this] { CB_showABClick(); });
    WireCheckBox(c.cb_noDesti, &ControlState::cb_noDesti, [this] { CB_showABClick(); });
    WireCheckBox(c.CB_potField, &ControlState::CB_potField, [this] { CB_showABClick(); });
    WireCheckBox(c.Cb_allBlack, &ControlState::Cb_allBlack, [this] { Cb_allBlackClick(); });
    WireCheckBox(c.CB_showAg, &ControlState::CB_showAg);
    WireCheckBox(c.CB_gravity, &ControlState::CB_gravity, [this] { CB_gravityClick(); });

    // The chooser's selection is the shown field; text typed into it selects
    // nothing, and the field of the last valid selection stays shown.
    connect(c.CB_FieldNr, &QComboBox::currentIndexChanged, this, [this](int index) {
        sim_.controls.CB_FieldNr = index;
        if (index >= 0 && index <= 2) sim_.run.shownField = index;
    });
    connect(c.CB_FieldNr, &QComboBox::editTextChanged, this, [this](const QString& text) {
        const int index = controls_.CB_FieldNr->currentIndex();
        const bool selected = index >= 0 && controls_.CB_FieldNr->itemText(index) == text;
        sim_.controls.CB_FieldNr = selected ? index : -1;
    });

    connect(c.StringGrid1, &UsageGrid::cellTextEdited, this, [&state](int column, int row, const QString& text) {
        state.StringGrid1[column][row] = text.toStdString();
    });
    connect(c.StringGrid1, &UsageGrid::keyReleased, this, &TForm1::StringGrid1KeyUp);

    connect(zeichenPanel_, &DrawingPanel::mousePressed, this, &TForm1::ZeichenPanelMouseDown);
    connect(zeichenPanel_, &DrawingPanel::mouseMoved, this, &TForm1::ZeichenPanelMouseMove);
    connect(zeichenPanel_, &DrawingPanel::mouseReleased, this, [this] { ZeichenPanelMouseUp(); });
}

void TForm1::WriteAngleLabels()
{
    controls_.Lbl_B->setText(QString::fromStdString(AngleLabel(sim_.controls.TrB_thresh)));
    controls_.Lbl_B->adjustSize();
    controls_.Lbl_wiggle->setText(QString::fromStdString(AngleLabel(sim_.controls.SB_wiggle)));
    controls_.Lbl_wiggle->adjustSize();
}

void TForm1::ShowDrawing()
{
    zeichenPanel_->ScheduleRepaint();
}

// ---- buttons and timer ----

void TForm1::B_setupClick()
{
    if (Guarded([this] { ::B_setupClick(sim_); })) WriteAngleLabels();
    ShowDrawing();
}

void TForm1::StartTimer()
{
    chart_->SetCoalescing(true);
    timer_->start();
}

void TForm1::B_stopClick()
{
    if (timer_->isActive()) StopTimer();
    else StartTimer();
}

void TForm1::RunStep()
{
    // A step that fails stops the timer, so its message is shown once rather
    // than at every tick.
    inStep_ = true;
    agentsOnLayer_.reset();
    std::optional<QString> failure;
    try {
        ::TimeStep(sim_);
    } catch (const std::exception& error) {
        failure = QString::fromStdString(error.what());
    }
    inStep_ = false;
    agentsOnLayer_.reset();  // the step moved the agents after drawing them
    if (failure) {
        // The timer stops before the message shows, so no tick runs another failing
        // step while the message box waits.
        StopTimer();
        ShowError(*failure);
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
    Guarded([this] { ::ResetUsageTable(sim_.controls, sim_.usage); });
    controls_.StringGrid1->SetTexts(sim_.controls.StringGrid1);
}

void TForm1::StringGrid1KeyUp()
{
    Guarded([this] { ::ReadUsageTable(sim_.controls, sim_.usage); });
}

// ---- "Graphic" page ----

void TForm1::ComputeDisplayRange()
{
    ::ComputeDisplayRange(sim_);
}

void TForm1::RedrawCells()
{
    layers_.RedrawCells(sim_);
    ShowDrawing();
}

void TForm1::CB_showABClick()
{
    ComputeDisplayRange();
    RedrawCells();
}

void TForm1::CB_noTracksClick()
{
    RedrawCells();
}

void TForm1::B_repaintClick()
{
    Guarded([this] {
        ComputeDisplayRange();
        ClearAgentLayer();
        if (sim_.controls.CB_showAg) DrawAgents();
        if (sim_.controls.CB_noTracks) DrawCells();
        else RedrawCells();
        if (sim_.controls.CB_gravity) DrawGravityLines(StrToFloat(sim_.controls.E_grav));
    });
}

void TForm1::CB_gravityClick()
{
    Guarded([this] {
        RedrawCells();
        if (sim_.controls.CB_gravity) DrawGravityLines(StrToFloat(sim_.controls.E_grav));
    });
}

void TForm1::E_gravChange()
{
    RedrawCells();
}

void TForm1::Cb_allBlackClick()
{
    for (TCell& cell : sim_.run.cells.InPassOrder()) cell.allBlack = sim_.controls.Cb_allBlack;
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

// ---- drawing hooks ----

void TForm1::StopTimer()
{
    timer_->stop();
    chart_->SetCoalescing(false);
}

void TForm1::CreateLayers()
{
    agentsOnLayer_.reset();
    layers_.Create();
    ShowDrawing();
}

void TForm1::ReleaseLayers()
{
    layers_.Release();
    ShowDrawing();
}

void TForm1::DrawCells()
{
    layers_.DrawCells(sim_);
    ShowDrawing();
}

void TForm1::DrawCell(std::int32_t column, std::int32_t row)
{
    layers_.DrawSingleCell(sim_, column, row);
    ShowDrawing();
}

void TForm1::ClearAgentLayer()
{
    layers_.ClearAgentLayer();
    if (inStep_) agentsOnLayer_ = 0;
    ShowDrawing();
}

void TForm1::DrawAgents()
{
    const std::size_t count = sim_.run.agents.size();
    const std::size_t from = agentsOnLayer_ && *agentsOnLayer_ <= count ? *agentsOnLayer_ : 0;
    layers_.DrawAgents(sim_, from);
    if (inStep_) agentsOnLayer_ = count;
    ShowDrawing();
}

void TForm1::DrawGravityLines(double factor)
{
    layers_.DrawGravityLines(sim_, factor);
    ShowDrawing();
}

void TForm1::ShowStepCount(std::int32_t stepCount)
{
    controls_.lbl_Steps->setText(QString::number(stepCount));
}

void TForm1::CreateChartSeries()
{
    chart_->CreateChartSeries();
}

void TForm1::PlotStatistics(const StepStatistics& statistics)
{
    chart_->PlotStatistics(statistics);
}
