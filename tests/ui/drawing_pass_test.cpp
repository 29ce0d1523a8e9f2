// The window's drawing pass takes the cells whose traffic moved from the
// normalisation pass, and paints each stretch of cells as it records it; it must
// draw what a plain pass draws (a scan of its own, then the list painted), step
// after step, on one worker and on two.
#include <QtTest>

#include "cell_drawing.h"
#include "drawing_layers.h"
#include "scenes.h"
#include "time_step.h"

namespace {

// Paints the run on its own layers: as the window does (`fast`), or the plain way.
class LayerScreen : public ScreenHooks {
public:
    LayerScreen(Simulation& sim, bool fast) : sim_(sim), fast_(fast) { layers.Create(); }
    bool PaintsCells() const override { return fast_; }
    void DrawCells() override
    {
        if (!fast_) {
            layers.PaintStepPass(sim_, RecordCellsDrawn(sim_, CellPass::Step));
            return;
        }
        layers.BeginStepPass(sim_);
        DrawingLayers::StretchPainter painter(layers, sim_);
        RecordCellsDrawn(sim_, CellPass::Step, painter.Hook());
    }
    void RedrawCells() override
    {
        if (!fast_) {
            layers.PaintCells(sim_, RecordCellsDrawn(sim_, CellPass::Redraw));
            return;
        }
        DrawingLayers::StretchPainter painter(layers, sim_);
        RecordCellsDrawn(sim_, CellPass::Redraw, painter.Hook());
    }
    void DrawCell(std::int32_t column, std::int32_t row) override
    {
        if (RecordCellDrawn(sim_, column, row)) layers.PaintCell(sim_, column, row);
    }

    DrawingLayers layers;

private:
    Simulation& sim_;
    bool fast_;
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
            LayerScreen listedScreen(*listed, true);
            LayerScreen scannedScreen(*scanned, false);
            listed->SetScreen(&listedScreen);
            scanned->SetScreen(&scannedScreen);
            listedScreen.RedrawCells();
            scannedScreen.RedrawCells();
            // Steps of the default page, a few with only the kinds shown (the pass
            // that lists no moved cells), with decay, which moves every cell, and
            // with a potential field shown, which redraws every cell.
            for (int step = 1; step <= 140; ++step) {
                for (Simulation* sim : {listed.get(), scanned.get()}) {
                    sim->controls.CB_showOrig = step > 40 && step <= 45;
                    sim->controls.CB_decay = step > 80 && step <= 90;
                    sim->controls.CB_potField = step > 120 && step <= 130;
                    TimeStep(*sim);
                }
                if (step % 10 != 0 && step != 46) continue;
                const QByteArray label = QByteArray::number(workers) + " workers, step " + QByteArray::number(step);
                QVERIFY2(listedScreen.layers.CellLayer() == scannedScreen.layers.CellLayer(), label);
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
