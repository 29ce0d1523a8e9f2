// The window's drawing pass takes the cells whose traffic moved from the
// normalisation pass, and paints each stretch of cells as it records it; it must
// draw what a plain pass draws (a scan of its own, then the list painted), step
// after step, on one worker and on two. The window's side is the window's own
// screen, so whatever it leaves out of the pass shows here.
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include "scenes/scenes.h"
#include "sim/core/time_step.h"
#include "sim/drawing/cell_drawing.h"
#include "ui/drawing_layers.h"
#include "ui/drawing_panel.h"
#include "ui/statistics_chart.h"
#include "ui/window_screen.h"

namespace {

// The plain passes: every cell the pass draws recorded first, then painted.
class PlainScreen : public ScreenHooks {
public:
    explicit PlainScreen(Simulation& sim) : sim_(sim) { layers.Create(); }
    void DrawCells() override { layers.PaintStepPass(sim_, RecordCellsDrawn(sim_, CellPass::Step)); }
    void RedrawCells() override { layers.PaintCells(sim_, RecordCellsDrawn(sim_, CellPass::Redraw)); }
    void DrawCell(std::int32_t column, std::int32_t row) override
    {
        if (RecordCellDrawn(sim_, column, row)) layers.PaintCell(sim_, column, row);
    }

    DrawingLayers layers;

private:
    Simulation& sim_;
};

// The window's screen with parts of its own, as the window puts it together.
struct WindowParts {
    explicit WindowParts(Simulation& sim)
        : panel(layers), screen(sim, WindowScreen::Parts{&layers, &panel, &chart, &stepLabel, &timer})
    {
        layers.Create();
    }

    DrawingLayers layers;
    DrawingPanel panel;
    StatisticsChart chart;
    QLabel stepLabel;
    QTimer timer;
    WindowScreen screen;
};

}  // namespace

class DrawingPassTest : public QObject {
    Q_OBJECT

private slots:
    void listedMovedCellsDrawAsAScanDoes()
    {
        for (const int workers : {1, 2}) {
            auto listed = SetUpScene(DefaultRunScene(), workers);
            auto scanned = SetUpScene(DefaultRunScene(), workers);
            WindowParts window(*listed);
            PlainScreen plain(*scanned);
            listed->SetScreen(&window.screen);
            scanned->SetScreen(&plain);
            window.screen.RedrawCells();
            plain.RedrawCells();
            // Steps of the default page; with decay, which moves every cell; with a
            // potential field shown, which redraws every cell in gray; then, over
            // that gray, a few with only the kinds shown (the pass that lists no
            // moved cells) and a few with all cells white (the pass that draws none).
            for (int step = 1; step <= 140; ++step) {
                for (Simulation* sim : {listed.get(), scanned.get()}) {
                    sim->controls.CB_decay = step > 40 && step <= 50;
                    sim->controls.CB_potField = step > 60 && step <= 70;
                    sim->controls.CB_showOrig = step > 70 && step <= 75;
                    sim->controls.CB_noTracks = step > 90 && step <= 92;
                    TimeStep(*sim);
                }
                if (step % 10 != 0 && step != 71 && step != 76 && step != 91 && step != 93) continue;
                const QByteArray label = QByteArray::number(workers) + " workers, step " + QByteArray::number(step);
                QVERIFY2(window.layers.CellLayer() == plain.layers.CellLayer(), label);
                const auto& a = listed->run.cells.InPassOrder();
                const auto& b = scanned->run.cells.InPassOrder();
                for (std::size_t i = 0; i < a.size(); ++i) {
                    QCOMPARE(a[i].grayLevel, b[i].grayLevel);
                    QCOMPARE(a[i].lastDrawnAllTracks, b[i].lastDrawnAllTracks);
                }
            }
            listed->SetScreen(nullptr);
            scanned->SetScreen(nullptr);
        }
    }
};

QTEST_MAIN(DrawingPassTest)
#include "drawing_pass_test.moc"
