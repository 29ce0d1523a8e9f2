// Mouse editing on the drawing panel with real mouse events.
#include <QPushButton>

#include "tests/ui/test_window.h"

namespace {

int CountKind(const Run& run, std::int32_t kind)
{
    int count = 0;
    for (const TCell& cell : run.cells.InPassOrder()) count += cell.kind == kind;
    return count;
}

// A drag with one button from one point to another, one pixel at a time.
void Drag(QWidget* panel, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint from, QPoint to)
{
    QTest::mousePress(panel, button, modifiers, from);
    const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
    for (int i = 1; i <= steps; ++i) QTest::mouseMove(panel, from + (to - from) * i / steps);
    QTest::mouseRelease(panel, button, modifiers, to);
}

}  // namespace

class MouseEditingTest : public QObject {
    Q_OBJECT
private slots:
    void pressAndReleaseWithoutMovingPaintsNothing()
    {
        TestWindow w;
        const QImage before = w.form.layers().CellLayer();
        QTest::mouseClick(w.form.zeichenPanel(), Qt::LeftButton, {}, {200, 200});
        QTest::mouseClick(w.form.zeichenPanel(), Qt::RightButton, {}, {1, 13});  // the first destination
        QCOMPARE(CountKind(w.run(), kObstacle), 0);
        QCOMPARE(w.form.layers().CellLayer(), before);
        QCOMPARE(w.run().destinations.size(), std::size_t(10));
    }

    void leftDragLaysABandThreeCellsWideAcrossTheLeftEdge()
    {
        TestWindow w;
        Drag(w.form.zeichenPanel(), Qt::LeftButton, {}, {10, 200}, {0, 200});
        // The press paints nothing; the moves pass over columns 4..0 (x / 2 rounded
        // half to even), each with its neighbours: columns 201 and 0..5.
        QCOMPARE(CountKind(w.run(), kObstacle), 7 * 3);
        for (int column : {201, 0, 3, 5})
            for (int row : {99, 100, 101}) {
                QCOMPARE(w.run().cells(column, row).kind, kObstacle);
                QVERIFY(w.squareIs(w.run().cells(column, row), colors::kNavy));
            }
        QCOMPARE(w.run().cells(6, 100).kind, kEmpty);
        QCOMPARE(w.run().cells(3, 102).kind, kEmpty);
        QCOMPARE(w.cellPixel(402, 198), colors::kNavy);  // the band shows in the last column's pixels
        QCOMPARE(w.cellPixel(10, 204), colors::kWhite);
    }

    void rightDragErasesABandOneCellWide()
    {
        TestWindow w;
        QWidget* panel = w.form.zeichenPanel();
        Drag(panel, Qt::LeftButton, {}, {100, 100}, {140, 100});  // rows 49..51, columns 49..71
        Drag(panel, Qt::RightButton, {}, {104, 100}, {130, 100});  // row 50, columns 52..65
        for (int column = 52; column <= 65; ++column) {
            QCOMPARE(w.run().cells(column, 50).kind, kEmpty);
            QVERIFY(w.squareIs(w.run().cells(column, 50), colors::kWhite));  // the gray of no traffic
            QCOMPARE(w.run().cells(column, 49).kind, kObstacle);
            QCOMPARE(w.run().cells(column, 51).kind, kObstacle);
        }
        QCOMPARE(w.run().cells(51, 50).kind, kObstacle);
        QCOMPARE(w.run().cells(66, 50).kind, kObstacle);
    }

    void ctrlDragAddsOneDestinationThatAgentsConsume()
    {
        TestWindow w;
        for (int i = 0; i < 30; ++i) QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        // Paint the new destination over the agents' homes, so that they find it.
        const TAgent& resident = w.run().agents.front();
        const QPoint centre(resident.pixelX, resident.pixelY);
        QWidget* panel = w.form.zeichenPanel();
        QTest::mousePress(panel, Qt::LeftButton, Qt::ControlModifier, centre + QPoint(-30, -30));
        for (int y = -30; y <= 30; y += 2)
            for (int x = -30; x <= 30; x += 2) QTest::mouseMove(panel, centre + QPoint(x, y));
        QTest::mouseRelease(panel, Qt::LeftButton, {}, centre + QPoint(30, 30));

        QCOMPARE(w.run().destinations.size(), std::size_t(11));
        const Destination& added = w.run().destinations.back();
        QCOMPARE(QPoint(added.pixelX, added.pixelY), centre + QPoint(-30, -30));
        QCOMPARE(added.arrivals, 0);
        const TCell& painted = w.run().cells(resident.column + 3, resident.row + 3);
        QCOMPARE(painted.kind, kDestination);
        QCOMPARE(painted.destinationIndex, 10);
        QVERIFY(w.squareIs(painted, colors::kLime));
        QCOMPARE(CountKind(w.run(), kObstacle), 0);

        // The run is the same at every start, so single steps by hand decide: an agent
        // comes back from the new destination at the fifth step, well within the bound.
        const auto someoneCarriesFromTheNewDestination = [&w] {
            for (const TAgent& agent : w.run().agents)
                if (agent.mode == kReturning && agent.foundDestinationIndex == 10) return true;
            return false;
        };
        int steps = 0;
        while (steps < 20 && !someoneCarriesFromTheNewDestination()) {
            QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
            ++steps;
        }
        QVERIFY(someoneCarriesFromTheNewDestination());
        QCOMPARE(w.run().stepCount, 30 + steps);
    }

    void twoCtrlGesturesAddTwoDestinations()
    {
        TestWindow w;
        QWidget* panel = w.form.zeichenPanel();
        Drag(panel, Qt::LeftButton, Qt::ControlModifier, {50, 300}, {60, 300});
        QTest::mouseClick(panel, Qt::RightButton, Qt::ControlModifier, {300, 50});  // adds one, paints none
        Drag(panel, Qt::LeftButton, Qt::ControlModifier, {300, 300}, {300, 310});
        QCOMPARE(w.run().destinations.size(), std::size_t(13));
        QCOMPARE(w.run().cells(28, 150).destinationIndex, 10);
        QCOMPARE(w.run().cells(150, 153).destinationIndex, 12);
        QCOMPARE(w.run().cells(150, 153).kind, kDestination);
        QCOMPARE(w.run().cells(150, 25).kind, kEmpty);
    }

    void draggingBeyondThePanelTouchesNothingOutsideTheGrid()
    {
        TestWindow w;
        QWidget* panel = w.form.zeichenPanel();
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
            QTest::mousePress(panel, button, {}, {400, 400});
            for (QPoint at : {QPoint(403, 403), QPoint(404, 200), QPoint(-2, -2), QPoint(-300, 50),
                              QPoint(900, 900), QPoint(200, -2000), QPoint(402, 402)})
                QTest::mouseMove(panel, at);
            QTest::mouseRelease(panel, button, {}, {900, 900});
        }
        // Of all the moves only (402, 402) lies over a cell, (201, 201): the left
        // drag laid its block, wrapping round, and the right drag erased its centre.
        QCOMPARE(CountKind(w.run(), kObstacle), 8);
        QCOMPARE(w.run().cells(201, 201).kind, kEmpty);
        QCOMPARE(w.run().cells(200, 200).kind, kObstacle);
        QCOMPARE(w.run().cells(0, 0).kind, kObstacle);
        QCOMPARE(w.run().destinations.size(), std::size_t(10));
    }
};

QTEST_MAIN(MouseEditingTest)
#include "mouse_editing_test.moc"
