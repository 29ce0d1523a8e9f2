// The picture of a run taken without the window against the window's own layers:
// right after a step has drawn its cells and agents (before the agents move), the
// window's cell and agent layers are the painter's layers of the run's state.
// A second run of the same scene with only the drawing recorder for a screen (as
// the headless runner and Python use it) records the same drawing, so its
// picture is the window run's picture, step after step.
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include "scenes/scenes.h"
#include "sim/core/time_step.h"
#include "sim/drawing/world_picture.h"
#include "ui/cell_painter.h"
#include "ui/drawing_layers.h"
#include "ui/drawing_panel.h"
#include "ui/statistics_chart.h"
#include "ui/window_screen.h"

namespace {

QImage BlankLayer()
{
    return QImage(DrawingLayers::kSide, DrawingLayers::kSide, QImage::Format_RGB32);
}

// The window's screen, as the window puts it together, looked at each time a step
// has drawn all its agents after its cell pass.
class WatchedWindow : public ScreenHooks {
public:
    explicit WatchedWindow(Simulation& sim)
        : sim_(sim), panel_(layers), screen_(sim, WindowScreen::Parts{&layers, &panel_, &chart_, &stepLabel_, &timer_})
    {
        layers.Create();
    }

    bool PaintsCells() const override { return screen_.PaintsCells(); }
    void CreateLayers() override { screen_.CreateLayers(); }
    void ReleaseLayers() override { screen_.ReleaseLayers(); }
    void DrawCells() override
    {
        screen_.DrawCells();
        passDrawn_ = true;
    }
    void RedrawCells() override { screen_.RedrawCells(); }
    void DrawCell(std::int32_t column, std::int32_t row) override { screen_.DrawCell(column, row); }
    void ClearAgentLayer() override { screen_.ClearAgentLayer(); }
    void DrawAgents(std::size_t first, std::size_t count) override
    {
        screen_.DrawAgents(first, count);
        if (!passDrawn_ || first != 0 || count != sim_.run.agents.size()) return;
        passDrawn_ = false;
        ++looks;
        QImage cells = BlankLayer(), agents = BlankLayer();
        PixelTarget cellTarget(cells), agentTarget(agents);
        PaintCellLayer(cellTarget, sim_);
        PaintAgentLayer(agentTarget, sim_);
        cellsDiffer += cells != layers.CellLayer();
        agentsDiffer += agents != layers.AgentLayer();
    }

    DrawingLayers layers;
    int looks = 0;
    int cellsDiffer = 0;
    int agentsDiffer = 0;

private:
    Simulation& sim_;
    DrawingPanel panel_;
    StatisticsChart chart_;
    QLabel stepLabel_;
    QTimer timer_;
    WindowScreen screen_;
    bool passDrawn_ = false;
};

}  // namespace

class WorldPictureTest : public QObject {
    Q_OBJECT

private slots:
    void windowLayersAreThePaintersLayersOfTheState()
    {
        auto windowRun = SetUpScene(DefaultRunScene(), 1);
        auto recordedRun = SetUpScene(DefaultRunScene(), 1);
        WatchedWindow window(*windowRun);
        DrawingRecorder recorder(*recordedRun);
        windowRun->SetScreen(&window);
        recordedRun->SetScreen(&recorder);
        window.RedrawCells();
        recorder.RedrawCells();
        // Agents shown throughout; a few steps with a potential field (which leaves grays
        // in every cell), some of them and a few after them with only the kinds shown,
        // then a few with all cells white, then the default page again. A change of the
        // last two redraws every cell, as their check boxes' handlers do.
        for (int step = 1; step <= 80; ++step) {
            for (Simulation* sim : {windowRun.get(), recordedRun.get()}) {
                ControlState& controls = sim->controls;
                const bool showOrig = controls.CB_showOrig, noTracks = controls.CB_noTracks;
                controls.CB_showAg = true;
                controls.CB_potField = step > 10 && step <= 15;
                controls.CB_showOrig = step > 12 && step <= 17;
                controls.CB_noTracks = step > 45 && step <= 47;
                if (showOrig != controls.CB_showOrig || noTracks != controls.CB_noTracks) sim->screen().RedrawCells();
                TimeStep(*sim);
            }
            const QByteArray label = "step " + QByteArray::number(step);
            QVERIFY2(window.cellsDiffer == 0, label);
            QVERIFY2(window.agentsDiffer == 0, label);
            QVERIFY2(WorldPixels(*recordedRun) == WorldPixels(*windowRun), label);
        }
        QCOMPARE(window.looks, 80);
        QVERIFY(!windowRun->run.agents.empty());

        // The composed picture is the agent layer over the cell layer, white letting
        // the cells through, as the panel shows them (after a repaint of both).
        windowRun->controls.CB_showOrig = false;
        windowRun->controls.CB_noTracks = false;
        window.ClearAgentLayer();
        window.DrawAgents(0, windowRun->run.agents.size());
        window.RedrawCells();
        const std::vector<Pixel> picture = WorldPixels(*windowRun);
        const QImage& cells = window.layers.CellLayer();
        const QImage& agents = window.layers.AgentLayer();
        int agentPixels = 0;
        for (int y = 0; y < kPictureSide; ++y) {
            for (int x = 0; x < kPictureSide; ++x) {
                const QRgb above = agents.pixel(x, y);
                agentPixels += above != qRgb(255, 255, 255);
                const QRgb shown = above == qRgb(255, 255, 255) ? cells.pixel(x, y) : above;
                QCOMPARE(picture[static_cast<std::size_t>(y) * kPictureSide + x], shown);
            }
        }
        QVERIFY(agentPixels > 0);
        windowRun->SetScreen(nullptr);
        recordedRun->SetScreen(nullptr);
    }
};

QTEST_MAIN(WorldPictureTest)
#include "world_picture_test.moc"
