// Pixel rules of cells and agents, and the passes over a small run.
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <random>

#include "model/rounding.h"
#include "sim/drawing/cell_drawing.h"
#include "ui/cell_painter.h"
#include "ui/drawing_layers.h"

namespace {

QImage WhiteLayer()
{
    QImage layer(404, 404, QImage::Format_RGB32);
    layer.fill(colors::kWhite);
    return layer;
}

TCell CellAt(int column, int row, int cellSize, std::int32_t kind = kEmpty)
{
    const int half = cellSize / 2;
    TCell cell(column * cellSize + half, row * cellSize + half, half);
    cell.kind = kind;
    return cell;
}

// Records one drawing of the cell as the only cell of a grid, with no potentials.
void Record(TCell& cell, DrawMode mode, bool noDestinations, const GrayScale& scale)
{
    TCellList grid(1, 1);
    grid(0, 0) = cell;
    RecordCellDraw(grid, 0, mode, noDestinations, scale);
    cell = grid(0, 0);
}

// The same when the cell's traffic moved by more than 1; true when it did.
bool RecordIfChanged(TCell& cell, DrawMode mode, bool noDestinations, const GrayScale& scale)
{
    TCellList grid(1, 1);
    grid(0, 0) = cell;
    const bool drawn = RecordCellDrawIfChanged(grid, 0, mode, noDestinations, scale);
    cell = grid(0, 0);
    return drawn;
}

// One drawing of the cell with the display range 0..10: recorded in the cell, then
// painted.
void Draw(QImage& layer, TCell& cell, DrawMode mode, bool noDestinations)
{
    Record(cell, mode, noDestinations, GrayScale::Of(10.0L, 0.0L));
    PixelTarget target(layer);
    PaintCell(target, cell, noDestinations);
}

// A run of columns x rows cells of size 2 with the display range 0..10.
void MakeRun(Simulation& sim, int columns, int rows)
{
    Run& run = sim.run;
    run.cellSize = 2;
    run.halfCell = 1;
    run.columns = columns;
    run.rows = rows;
    run.cells = TCellList(columns, rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) run.cells(c, r) = CellAt(c, r, 2);
    run.displayMax = 10.0L;
    run.displayMin = 0.0L;
}

// The rows (or, across a vertical line, the columns) of maroon pixels met when
// crossing the layer at the given column (row).
QList<int> MaroonAcross(const QImage& layer, Qt::Orientation line, int at)
{
    QList<int> found;
    for (int i = 0; i < layer.height(); ++i) {
        const QRgb pixel = line == Qt::Horizontal ? layer.pixel(at, i) : layer.pixel(i, at);
        if (pixel == colors::kMaroon) found << i;
    }
    return found;
}

// True when the list holds n consecutive values that include `through`.
bool IsBandOf(const QList<int>& values, int n, int through)
{
    if (values.size() != n) return false;
    for (int i = 1; i < n; ++i)
        if (values[i] != values[i - 1] + 1) return false;
    return values.front() <= through && through <= values.back();
}

}  // namespace

class CellPainterTest : public QObject {
    Q_OBJECT
private slots:
    void grayScaleRunsFromWhiteAtMinToBlackAtMax()
    {
        const GrayScale scale = GrayScale::Of(255.0L, 0.0L);
        QCOMPARE(scale.Level(0.0), 255);
        QCOMPARE(scale.Level(255.0), 0);
        QCOMPARE(scale.Level(1000.0), 0);    // above max: black
        QCOMPARE(scale.Level(-5.0), 255);    // below min: white
        QCOMPARE(scale.Level(127.5), 128);   // 127.5 ties to the even 128
        QCOMPARE(scale.Level(0.5), 254);     // 254.5 ties to the even 254
        QCOMPARE(scale.Level(std::nan("")), 255);
        // An empty range has no scale: white, whatever the value.
        QCOMPARE(GrayScale::Of(0.1L, 0.1L).Level(0.1), 255);
        QCOMPARE(GrayScale::Of(0.1L, 0.1L).Level(7.0), 255);
    }

    void grayLevelRoundsExactlyLikeExtendedArithmetic()
    {
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> value(-1.0, 11.0);
        const GrayScale scale = GrayScale::Of(10.0L, 0.0L);
        for (int i = 0; i < 200000; ++i) {
            double v = value(random);
            if (i % 2 == 0) {  // values whose gray lies on or next to a half
                v = (std::round(v * scale.scale) + 0.5) / scale.scale;
                if (i % 3 == 1) v = std::nextafter(v, 20.0);
                if (i % 3 == 2) v = std::nextafter(v, -20.0);
            }
            double g = static_cast<double>((static_cast<long double>(v) - 0.0L) * scale.scale);
            g = std::clamp(g, 0.0, 255.0);
            QCOMPARE(scale.Level(v), RoundHalfEven(255.0L - g));
        }
    }

    void kindsHaveTheirColoursAndFlagsOverrideThem()
    {
        struct Case {
            std::int32_t kind;
            bool noDestinations, allBlack;
            QRgb expected;
        };
        const Case cases[] = {
            {kObstacle, false, false, colors::kNavy},     {kResidential, false, false, colors::kGreen},
            {kDestination, false, false, colors::kLime},  {kService, false, false, colors::kRed},
            {kIndustry, false, false, qRgb(0, 102, 204)}, {kDestination, true, false, colors::kWhite},
            {kService, true, false, colors::kWhite},      {kObstacle, true, true, colors::kNavy},
            {kDestination, true, true, colors::kWhite},   {kResidential, true, true, colors::kBlack},
            {kIndustry, false, true, colors::kBlack},     {kEmpty, false, true, colors::kWhite},
        };
        for (const Case& c : cases) {
            QImage layer = WhiteLayer();
            layer.fill(colors::kGray);
            TCell cell = CellAt(5, 5, 2, c.kind);
            cell.allBlack = c.allBlack;
            Draw(layer, cell, DrawMode::AllTracks, c.noDestinations);
            QCOMPARE(layer.pixel(10, 10), c.expected);
        }
    }

    void squareCoversItsPixelsAndIsClippedAtTheEdge()
    {
        QImage layer = WhiteLayer();
        TCell cell = CellAt(1, 0, 3, kObstacle);  // cell size 3: centre 4, half cell 1
        cell.allTracks = 42.0;
        Draw(layer, cell, DrawMode::AllTracks, false);
        QCOMPARE(layer.pixel(3, 0), colors::kNavy);
        QCOMPARE(layer.pixel(4, 1), colors::kNavy);
        QCOMPARE(layer.pixel(5, 0), colors::kWhite);  // the pitch is one pixel wider than the square
        QCOMPARE(layer.pixel(3, 2), colors::kWhite);
        QCOMPARE(cell.lastDrawnAllTracks, 42.0);

        TCell corner = CellAt(57, 57, 7, kService);  // reaches pixel 404, one past the layer
        Draw(layer, corner, DrawMode::AllTracks, false);
        QCOMPARE(layer.pixel(403, 403), colors::kRed);
        QCOMPARE(layer.pixel(399, 399), colors::kRed);
    }

    void onlyTrafficMovedByMoreThanOneIsRepainted()
    {
        QImage layer = WhiteLayer();
        PixelTarget target(layer);
        const GrayScale scale = GrayScale::Of(10.0L, 0.0L);
        TCell cell = CellAt(0, 0, 2);
        cell.lastDrawnAllTracks = 3.0;
        cell.allTracks = 4.0;
        cell.returnTracks = 10.0;  // would be black in the return-tracks mode
        if (RecordIfChanged(cell, DrawMode::ReturnTracks, false, scale)) PaintCell(target, cell, false);
        QCOMPARE(layer.pixel(0, 0), colors::kWhite);
        cell.allTracks = 1.5;
        if (RecordIfChanged(cell, DrawMode::ReturnTracks, false, scale)) PaintCell(target, cell, false);
        QCOMPARE(layer.pixel(0, 0), colors::kBlack);
        QCOMPARE(cell.lastDrawnAllTracks, 1.5);
    }

    void agentDotShowsItsModeAndIsClipped()
    {
        QImage layer = WhiteLayer();
        PixelTarget target(layer);
        TAgent searching;
        searching.pixelX = 11;
        searching.pixelY = 21;
        DrawAgent(target, searching);
        QCOMPARE(layer.pixel(11, 21), colors::kRed);
        QCOMPARE(layer.pixel(10, 21), colors::kRed);
        QCOMPARE(layer.pixel(11, 22), colors::kRed);
        QCOMPARE(layer.pixel(10, 20), colors::kGray);
        QCOMPARE(layer.pixel(13, 21), colors::kWhite);

        TAgent returning;
        returning.mode = kReturning;
        returning.pixelX = 403;
        returning.pixelY = 0;
        DrawAgent(target, returning);
        QCOMPARE(layer.pixel(403, 0), colors::kLime);
        QCOMPARE(layer.pixel(402, 1), colors::kGray);
    }

    void twoWorkersRecordAndPaintAsOneDoes()
    {
        // Odd and even row counts, a single row, every pass: the same list, the same
        // gray levels and the same pixels with the work split over two workers,
        // each painting what it records, as the window draws.
        std::mt19937 draws(7);
        for (const int rows : {1, 2, 7, 40}) {
            for (const bool potentialField : {false, true}) {
                Simulation one;
                Simulation two;
                one.SetWorkerCount(1);
                two.SetWorkerCount(2);
                for (Simulation* sim : {&one, &two}) {
                    std::mt19937 same = draws;
                    MakeRun(*sim, 9, rows);
                    sim->controls.CB_potField = potentialField;
                    for (std::size_t i = 0; i < sim->run.cells.InPassOrder().size(); ++i) {
                        TCell& cell = sim->run.cells.InPassOrder()[i];
                        cell.allTracks = static_cast<double>(same() % 4);  // only changes above 1 redraw
                        sim->run.cells.PotentialAt(i, 0) = static_cast<double>(same() % 11);
                        cell.kind = same() % 5 == 0 ? kResidential : kEmpty;
                    }
                }
                draws.discard(3 * 9 * rows);
                const QByteArray label = QByteArray::number(rows) + " rows" + (potentialField ? ", potential field" : "");
                DrawingLayers layersOne;
                DrawingLayers layersTwo;
                layersOne.Create();
                layersTwo.Create();
                for (const CellPass pass : {CellPass::Step, CellPass::Redraw}) {
                    const auto listOne = RecordCellsDrawn(one, pass);
                    const std::vector<std::uint32_t> expected(listOne.begin(), listOne.end());
                    layersOne.PaintCells(one, listOne);
                    DrawingLayers::StretchPainter painter(layersTwo, two);
                    const auto listTwo = RecordCellsDrawn(two, pass, painter.Hook());
                    QVERIFY2(std::equal(listTwo.begin(), listTwo.end(), expected.begin(), expected.end()), label);
                    QVERIFY2(!expected.empty(), label);
                    for (std::size_t i = 0; i < one.run.cells.InPassOrder().size(); ++i)
                        QCOMPARE(two.run.cells.InPassOrder()[i].grayLevel, one.run.cells.InPassOrder()[i].grayLevel);
                    QVERIFY2(layersTwo.CellLayer() == layersOne.CellLayer(), label);
                }
            }
        }
    }

    void clearingTheAgentLayerLeavesItWhite()
    {
        // Dots inside, on the edges and corners (clipped), overlapping; then more
        // dots than are erased one by one.
        QImage white(DrawingLayers::kSide, DrawingLayers::kSide, QImage::Format_RGB32);
        white.fill(colors::kWhite);
        for (const std::size_t count : {std::size_t(0), std::size_t(7), std::size_t(20000)}) {
            Simulation sim;
            DrawingLayers layers;
            layers.Create();
            std::mt19937 places(static_cast<unsigned>(count));
            for (int round = 0; round < 2; ++round) {
                sim.run.agents.clear();
                const int edges[][2] = {{0, 0}, {403, 403}, {0, 403}, {200, 0}, {404, 10}, {5, 5}, {6, 5}};
                for (std::size_t i = 0; i < count; ++i) {
                    TAgent agent;
                    agent.pixelX = i < 7 ? edges[i][0] : static_cast<int>(places() % 404);
                    agent.pixelY = i < 7 ? edges[i][1] : static_cast<int>(places() % 404);
                    agent.mode = i % 2 ? kReturning : kSearching;
                    sim.run.agents.push_back(agent);
                }
                layers.DrawAgents(sim, 0, count / 2);
                layers.DrawAgents(sim, count / 2, count);
                QCOMPARE(layers.AgentLayer() == white, count == 0);
                layers.ClearAgentLayer();
                QVERIFY2(layers.AgentLayer() == white, QByteArray::number(qulonglong(count)));
            }
        }
    }

    void passesFollowTheGraphicPage()
    {
        Simulation sim;
        MakeRun(sim, 4, 4);
        DrawingLayers layers;
        layers.Create();
        sim.run.cells(1, 1).kind = kResidential;
        sim.run.cells(2, 2).allTracks = 10.0;  // moved since its last draw
        sim.run.cells(3, 3).returnTracks = 10.0;
        sim.controls.CB_showAB = false;
        sim.run.displayMax = 20.0L;

        layers.PaintStepPass(sim, RecordCellsDrawn(sim, CellPass::Step));  // only the moved cell, in all-tracks gray; the range is copied everywhere
        QCOMPARE(layers.CellLayer().pixel(4, 4), qRgb(128, 128, 128));
        QCOMPARE(layers.CellLayer().pixel(2, 2), colors::kWhite);
        QCOMPARE(static_cast<double>(sim.run.cellsDisplayRange.max), 20.0);

        sim.controls.CB_showAB = true;
        layers.PaintCells(sim, RecordCellsDrawn(sim, CellPass::Redraw));  // every cell, return tracks
        QCOMPARE(layers.CellLayer().pixel(2, 2), colors::kGreen);
        QCOMPARE(layers.CellLayer().pixel(6, 6), qRgb(128, 128, 128));
        QCOMPARE(layers.CellLayer().pixel(4, 4), colors::kWhite);

        sim.controls.CB_showOrig = true;  // white, then only the kinds
        layers.PaintStepPass(sim, RecordCellsDrawn(sim, CellPass::Step));
        QCOMPARE(layers.CellLayer().pixel(6, 6), colors::kWhite);
        QCOMPARE(layers.CellLayer().pixel(2, 2), colors::kGreen);

        sim.controls.CB_noTracks = true;  // all white
        layers.PaintStepPass(sim, RecordCellsDrawn(sim, CellPass::Step));
        QCOMPARE(layers.CellLayer().pixel(2, 2), colors::kWhite);
    }

    void gravityLinesOnlyForMoreThanOneArrivalAsWideAsRoundedHalfToEven()
    {
        // 101 x 101 cells of size 4: the centre is Round(101 / 2) = 50 (half to even),
        // so pixel 50 * 4 + 2 = 202 on both axes.
        Simulation sim;
        Run& run = sim.run;
        run.cellSize = 4;
        run.halfCell = 2;
        run.columns = 101;
        run.rows = 101;
        struct Case {
            std::int32_t arrivals;
            std::int32_t steps;
            double factor;
            int width;  // pixels across the line; 0: no line
        };
        const Case cases[] = {
            {0, 4, 5.0, 0},  // no arrivals: no line
            {1, 1, 5.0, 0},  // one arrival: no line, though its width would be 5
            {2, 1, 1.5, 3},  // 3
            {5, 4, 2.0, 2},  // 2.5 rounds to 2
            {7, 4, 2.0, 4},  // 3.5 rounds to 4
            {9, 4, 2.0, 4},  // 4.5 rounds to 4
            {3, 2, 1.0, 2},  // 1.5 rounds to 2
            {2, 8, 1.0, 1},  // 0.25 rounds to 0: the thinnest pen, one pixel
        };
        for (const Case& c : cases) {
            const QByteArray label = QByteArray::number(c.arrivals) + " arrivals in " + QByteArray::number(c.steps) +
                                     " steps, factor " + QByteArray::number(c.factor);
            DrawingLayers layers;
            layers.Create();
            run.stepCount = c.steps;
            // One line along row 202 from the left, one along column 202 from the top.
            run.destinations = {{20, 202, c.arrivals}, {202, 30, c.arrivals}};
            layers.DrawGravityLines(sim, c.factor);
            const QList<int> acrossHorizontal = MaroonAcross(layers.CellLayer(), Qt::Horizontal, 100);
            const QList<int> acrossVertical = MaroonAcross(layers.CellLayer(), Qt::Vertical, 100);
            if (c.width == 0) {
                QVERIFY2(acrossHorizontal.isEmpty() && acrossVertical.isEmpty(), label);
                QCOMPARE(layers.CellLayer().pixel(202, 202), colors::kWhite);
            } else {
                QVERIFY2(IsBandOf(acrossHorizontal, c.width, 202), label);
                QVERIFY2(IsBandOf(acrossVertical, c.width, 202), label);
                // Nothing beyond the centre: the lines end there.
                QVERIFY2(MaroonAcross(layers.CellLayer(), Qt::Horizontal, 300).isEmpty(), label);
            }
        }

        // In one list only the destinations with more than one arrival get a line.
        DrawingLayers layers;
        layers.Create();
        run.stepCount = 10;
        run.destinations = {{20, 202, 1}, {202, 30, 20}, {390, 202, 0}, {202, 390, -3}};
        layers.DrawGravityLines(sim, 1.0);  // 20 / 10: two pixels wide
        QVERIFY(IsBandOf(MaroonAcross(layers.CellLayer(), Qt::Vertical, 100), 2, 202));
        QVERIFY(MaroonAcross(layers.CellLayer(), Qt::Horizontal, 100).isEmpty());
        QVERIFY(MaroonAcross(layers.CellLayer(), Qt::Horizontal, 300).isEmpty());
        QVERIFY(MaroonAcross(layers.CellLayer(), Qt::Vertical, 300).isEmpty());
    }
};

QTEST_MAIN(CellPainterTest)
#include "cell_painter_test.moc"
