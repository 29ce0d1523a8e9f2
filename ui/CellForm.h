#pragma once
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "sim/controls/world_editing.h"
#include "sim/core/simulation.h"
#include "ui/control_panel.h"
#include "ui/drawing_layers.h"
#include "ui/message_queue.h"

class ControlBinder;
class DrawingPanel;
class StatisticsChart;
class WindowScreen;

// The main window "Quorvane_04_Land Use". It owns the simulation and puts its
// parts together: the panel of controls, bound to the simulation by the control
// binder; the screen, through which the run reaches the layers, the step label,
// the timer and the chart; and the queue of error messages. What is left here
// are the buttons, the timer and the mouse on the drawing panel.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    Simulation& simulation() { return sim_; }
    const Simulation& simulation() const { return sim_; }
    const ControlPanel& panel() const { return panel_; }
    const DrawingLayers& layers() const { return layers_; }
    DrawingPanel* zeichenPanel() const { return zeichenPanel_; }
    StatisticsChart* chart() const { return chart_; }
    QTimer* timer() const { return timer_; }

    // Replaces the modal message box, e.g. to collect messages without blocking.
    void SetMessageSink(MessageQueue::Sink sink);

    // Replaces the run with the one a run state holds and shows it, the timer
    // stopped. A state that cannot be read changes nothing and gives the reason;
    // an empty text on success.
    QString OpenRunState(const QByteArray& bytes);

    // Handlers of the buttons and the timer.
    void B_setupClick();
    void B_stopClick();
    void B_oneStepClick();
    void Timer1Timer();
    void B_resetClick();
    void StringGrid1KeyUp();
    void B_repaintClick();

    // Echoes of the scroll bars' positions.
    void TrB_threshChange();
    void SB_wiggleChange();

    // Mouse on the drawing panel, in panel pixels.
    void ZeichenPanelMouseDown(Qt::MouseButton button, bool ctrl, int x, int y);
    void ZeichenPanelMouseMove(int x, int y);
    void ZeichenPanelMouseUp();

private:
    void StartTimer();
    void RunStep();
    void WireButtons();

    Simulation sim_;
    DrawingLayers layers_;
    MouseEditingState mouse_;
    ControlPanel panel_;
    DrawingPanel* zeichenPanel_ = nullptr;
    StatisticsChart* chart_ = nullptr;
    QTimer* timer_ = nullptr;
    MessageQueue messages_;
    std::unique_ptr<WindowScreen> screen_;
    ControlBinder* binder_ = nullptr;
};
