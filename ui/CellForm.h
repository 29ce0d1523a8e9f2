#pragma once
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

#include "control_panel.h"
#include "drawing_hooks.h"
#include "drawing_layers.h"
#include "simulation.h"
#include "world_editing.h"

class DrawingPanel;
class StatisticsChart;

// The main window "Quorvane_04_Land Use". It owns the simulation and is its
// screen: the simulation reaches the layers, the step label, the timer and the
// chart only through the drawing hooks implemented here. Every control writes
// its value into the simulation's control state as soon as it changes, and the
// model reads that state at its own moments.
class TForm1 : public QWidget, public DrawingHooks {
    Q_OBJECT
public:
    // Shows a conversion error (or any other failure) to the user.
    using MessageSink = std::function<void(const QString& message)>;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    Simulation& simulation() { return sim_; }
    const Simulation& simulation() const { return sim_; }
    const ControlPanel& panel() const { return controls_; }
    const DrawingLayers& layers() const { return layers_; }
    DrawingPanel* zeichenPanel() const { return zeichenPanel_; }
    StatisticsChart* chart() const { return chart_; }
    QTimer* timer() const { return timer_; }

    // Replaces the modal message box, e.g. to collect messages without blocking.
    void SetMessageSink(MessageSink sink);

    // Handlers of the buttons and the timer.
    void B_setupClick();
    void B_stopClick();
    void B_oneStepClick();
    void Timer1Timer();
    void B_resetClick();
    void StringGrid1KeyUp();

    // Handlers of the "Graphic" page.
    void CB_showABClick();
    void CB_noTracksClick();
    void B_repaintClick();
    void CB_gravityClick();
    void E_gravChange();
    void Cb_allBlackClick();

    // Mouse on the drawing panel, in panel pixels.
    void ZeichenPanelMouseDown(Qt::MouseButton button, bool ctrl, int x, int y);
    void ZeichenPanelMouseMove(int x, int y);
    void ZeichenPanelMouseUp();

    // Full redraw and display range, as the "Graphic" page's handlers use them.
    void RedrawCells();
    void ComputeDisplayRange();

    // DrawingHooks: what the simulation asks of the screen.
    void StopTimer() override;
    void CreateLayers() override;
    void ReleaseLayers() override;
    void DrawCells() override;
    void DrawCell(std::int32_t column, std::int32_t row) override;
    void ClearAgentLayer() override;
    void DrawAgents() override;
    void DrawGravityLines(double factor) override;
    void ShowStepCount(std::int32_t stepCount) override;
    void CreateChartSeries() override;
    void PlotStatistics(const StepStatistics& statistics) override;

private:
    void StartTimer();
    void RunStep();
    void ShowError(const QString& message);
    // Runs a handler; a failure is shown and abandons the handler there.
    template <typename Handler>
    bool Guarded(Handler&& handler);
    void WireControls();
    void WireEdit(QLineEdit* edit, std::string ControlState::*field, std::function<void()> handler = {});
    void WireCheckBox(QCheckBox* box, bool ControlState::*field, std::function<void()> handler = {});
    void SyncEdit(QLineEdit* edit, const std::string& text);
    void WriteAngleLabels();
    void ShowDrawing();

    Simulation sim_;
    DrawingLayers layers_;
    // During a step, how many agents of the list the agent layer shows as they
    // stand. Growth draws all agents after each new one, and nothing moves in
    // between, so drawing only the agents added since gives the same pixels (later
    // agents are drawn over earlier ones either way) without redrawing a large
    // batch once per agent. Unknown outside a step and after anything else drew.
    std::optional<std::size_t> agentsOnLayer_;
    bool inStep_ = false;
    QStringList pendingMessages_;  // the open message box's text first
    bool showingMessage_ = false;
    MouseEditingState mouse_;
    ControlPanel controls_;
    DrawingPanel* zeichenPanel_ = nullptr;
    StatisticsChart* chart_ = nullptr;
    QTimer* timer_ = nullptr;
    MessageSink messageSink_;
};
