// The window as it opens, the buttons and the timer, the chart, and what the
// step draws.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "sim/controls/control_table.h"
#include "tests/ui/test_window.h"
#include "ui/usage_grid.h"

namespace {

struct Expected {
    const char* name;
    QRect geometry;  // an empty size: a label sized by its caption
    const char* text;
    int checked = -1;  // -1: not a check box or radio button
    bool enabled = true;
};

QString TextOf(QWidget* widget)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) return frame->title();
    return {};
}

// The message boxes open at this moment, in the order Qt lists them.
QList<QMessageBox*> OpenMessageBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes << box;
    return boxes;
}

// Watches the message boxes while the window runs: records each text once and the
// most boxes open at once, and closes each box after it has stood for a few ticks.
struct MessageBoxWatcher {
    QStringList texts;
    int mostOpen = 0;
    int ticksOpen = 0;
    std::function<void()> whenFirstOpen;

    void Tick()
    {
        const QList<QMessageBox*> open = OpenMessageBoxes();
        mostOpen = std::max(mostOpen, int(open.size()));
        if (open.isEmpty()) return;
        if (ticksOpen == 0) {
            texts << open.front()->text();
            if (whenFirstOpen && texts.size() == 1) whenFirstOpen();
        }
        if (++ticksOpen >= 8) {
            ticksOpen = 0;
            open.front()->accept();
        }
    }
};

// What the panel shows of a control of the table: its caption (a button's own, or
// that of the label whose buddy it is), its value in the table's form, and the
// title of the page it sits on; a problem where the widget is not of its kind.
struct Shown {
    QString caption;
    QString value;
    QString page;
    QString problem;
};

Shown ShownBy(TestWindow& w, const ControlDefinition& control)
{
    Shown shown;
    auto* grid = w.get<UsageGrid>("StringGrid1");
    QWidget* widget = control.kind == ControlKind::UsageCell ? grid : w.form.findChild<QWidget*>(control.name);
    if (!widget) {
        shown.problem = "no widget";
        return shown;
    }
    auto* pages = w.get<QTabWidget>("PageControl1");
    auto* timesteps = w.get<QGroupBox>("GroupBox2");
    for (QWidget* a = widget->parentWidget(); a && shown.page.isEmpty(); a = a->parentWidget()) {
        if (pages->indexOf(a) >= 0) shown.page = pages->tabText(pages->indexOf(a));
        if (a == timesteps) shown.page = timesteps->title();
    }
    for (auto* label : w.form.findChildren<QLabel*>())
        if (label->buddy() == widget) shown.caption = label->text();

    auto* edit = qobject_cast<QLineEdit*>(widget);
    auto* button = qobject_cast<QAbstractButton*>(widget);
    auto* bar = qobject_cast<QScrollBar*>(widget);
    auto* chooser = qobject_cast<QComboBox*>(widget);
    switch (control.kind) {
    case ControlKind::IntegerEdit:
    case ControlKind::RealEdit:
        if (edit) shown.value = edit->text();
        else shown.problem = "not an edit";
        break;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
        const bool kindMatches = control.kind == ControlKind::CheckBox ? qobject_cast<QCheckBox*>(widget) != nullptr
                                                                       : qobject_cast<QRadioButton*>(widget) != nullptr;
        if (!kindMatches) {
            shown.problem = "not a " + QString(KindName(control.kind));
            break;
        }
        shown.caption = button->text();
        shown.value = button->isChecked() ? "1" : "0";
        break;
    }
    case ControlKind::ScrollBar:
        if (bar) shown.value = QString::number(bar->value());
        else shown.problem = "not a scroll bar";
        break;
    case ControlKind::FieldChooser:
        if (chooser) shown.value = QString::number(chooser->currentIndex());
        else shown.problem = "not a combo box";
        break;
    case ControlKind::UsageCell:
        shown.caption = grid->Text(0, control.usageRow) + " / " + grid->Text(control.usageColumn, 0);
        shown.value = grid->Text(control.usageColumn, control.usageRow);
        break;
    }
    return shown;
}

// A step that leaves some agents standing: three steps by hand.
void StepThrice(TestWindow& w)
{
    for (int i = 0; i < 3; ++i) QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void opensWithEveryControlCaptionAndDefault()
    {
        TestWindow w;
        QCOMPARE(w.form.windowTitle(), QString("Quorvane_04_Land Use"));
        const Expected controls[] = {
            {"ZeichenPanel", {16, 9, 404, 404}, ""},
            {"Chart1", {8, 416, 713, 281}, ""},
            {"PageControl1", {424, 9, 297, 360}, ""},
            {"GroupBox2", {424, 373, 297, 41}, "timesteps"},
            {"GroupBox1", {16, 8, 257, 113}, "setup settings"},
            {"B_setup", {6, 24, 75, 25}, "new Setup"},
            {"B_stop", {86, 24, 75, 25}, "start / stop"},
            {"B_oneStep", {166, 24, 75, 25}, "one step"},
            {"Edit_anzAg", {8, 56, 41, 20}, "2400"},
            {"Lbl_TextAnzahl", {54, 60, 0, 0}, ": number of max agents in system"},
            {"Edit_size", {8, 80, 41, 20}, "2"},
            {"Label2", {54, 84, 0, 0}, ": cell size -> number of cells "},
            {"RadioGroup_chem", {16, 133, 257, 52}, "sniff chemicals with"},
            {"rb_rulette", {32, 157, 81, 17}, "rulette wheel", 0},
            {"rb_hill", {144, 157, 81, 17}, "hill climbing", 1},
            {"GroupBox3", {16, 200, 257, 105}, "create per time step"},
            {"E_crAgs", {8, 24, 25, 20}, "3"},
            {"Label9", {38, 28, 0, 0}, ": population agents / residental cells"},
            {"E_crServ", {8, 48, 25, 20}, "1"},
            {"Label8", {38, 52, 0, 0}, ": service recources"},
            {"E_crIndu", {8, 72, 25, 20}, "1"},
            {"Label10", {38, 76, 0, 0}, ": industrial resources"},
            {"Label1", {8, 13, 0, 0}, "angle threshold :"},
            {"Lbl_B", {90, 13, 0, 0}, "22 Grad"},
            {"TrB_thresh", {8, 32, 113, 17}, ""},
            {"Label3", {144, 13, 0, 0}, "wiggle threshold :"},
            {"Lbl_wiggle", {226, 13, 0, 0}, "20 Grad"},
            {"SB_wiggle", {144, 32, 113, 17}, ""},
            {"E_decay", {8, 58, 33, 20}, "0,99"},
            {"CB_decay", {47, 60, 82, 17}, ": path decay ", 0},
            {"E_CProbab", {144, 57, 33, 20}, "0,1"},
            {"Label7", {183, 62, 0, 0}, ": consume Probab."},
            {"E_migTh", {8, 82, 33, 20}, "2"},
            {"CB_migrate", {47, 84, 90, 17}, ": migrat. thresh", 0},
            {"E_noise", {144, 82, 33, 20}, "30"},
            {"Label6", {183, 86, 0, 0}, ": return noise"},
            {"RadioGroup_return", {8, 125, 273, 52}, "return mode"},
            {"rb_direct", {24, 149, 81, 17}, "direct way", 0},
            {"rb_hillCl", {144, 149, 105, 17}, "use existing tracks", 1},
            {"StringGrid1", {8, 201, 281, 88}, ""},
            {"B_reset", {206, 296, 75, 25}, "reset values"},
            {"GroupBox4", {8, 8, 273, 185}, "output"},
            {"CB_noTracks", {8, 16, 113, 17}, "all cells white", 0},
            {"CB_showOrig", {8, 32, 121, 17}, "show no tracks", 0},
            {"CB_showAB", {8, 48, 129, 17}, "show only return tracks", 1},
            {"cb_noDesti", {8, 64, 129, 17}, "show no destinations", 0},
            {"Cb_allBlack", {8, 80, 129, 17}, "all destinations black", 0},
            {"CB_potField", {8, 112, 121, 17}, "show potential field nr.", 0},
            {"CB_FieldNr", {136, 112, 33, 20}, ""},
            {"CB_showAg", {8, 144, 81, 17}, "show agents", 0},
            {"CB_gravity", {8, 160, 145, 17}, "show gravity linies   |   size:", 0, false},
            {"E_grav", {152, 160, 25, 20}, "5", -1, false},
            {"B_repaint", {190, 16, 75, 49}, "repaint all"},
            {"lbl_Steps", {48, 18, 0, 0}, "lbl_Steps"},
            {"Label4", {144, 18, 0, 0}, "stop at time :"},
            {"E_stop", {208, 13, 57, 20}, "800"},
        };
        for (const Expected& e : controls) {
            QWidget* widget = w.get<QWidget>(e.name);
            const QRect actual = e.geometry.isEmpty() ? QRect(widget->pos(), QSize()) : widget->geometry();
            QVERIFY2(actual.topLeft() == e.geometry.topLeft() && (e.geometry.isEmpty() || actual == e.geometry), e.name);
            QVERIFY2(TextOf(widget) == e.text, e.name);
            QVERIFY2(widget->isEnabled() == e.enabled, e.name);
            if (e.checked >= 0)
                QVERIFY2(qobject_cast<QAbstractButton*>(widget)->isChecked() == (e.checked == 1), e.name);
        }

        auto* pages = w.get<QTabWidget>("PageControl1");
        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->tabText(0) + "|" + pages->tabText(1) + "|" + pages->tabText(2), QString("Setup|Settings|Graphic"));
        QCOMPARE(pages->currentIndex(), 1);
        for (auto* bar : {w.get<QScrollBar>("TrB_thresh"), w.get<QScrollBar>("SB_wiggle")}) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 180);
            QCOMPARE(bar->pageStep(), 5);
        }
        QCOMPARE(w.get<QScrollBar>("TrB_thresh")->value(), 22);
        QCOMPARE(w.get<QScrollBar>("SB_wiggle")->value(), 20);
        auto* chooser = w.get<QComboBox>("CB_FieldNr");
        QCOMPARE(chooser->count(), 3);
        QCOMPARE(chooser->itemText(2), QString("3"));
        QCOMPARE(chooser->currentIndex(), 0);
        auto* grid = w.get<UsageGrid>("StringGrid1");
        QCOMPARE(grid->columnCount(), 6);
        QCOMPARE(grid->rowCount(), 4);
        QCOMPARE(grid->Text(0, 0), QString("usage"));
        QCOMPARE(grid->Text(5, 3), QString("4,8"));
        QCOMPARE(grid->Text(4, 1), QString("0,0"));
        QVERIFY(!(grid->item(0, 3)->flags() & Qt::ItemIsEditable));
        QVERIFY(grid->item(1, 1)->flags() & Qt::ItemIsEditable);
        auto* timer = w.get<QTimer>("Timer1");
        QCOMPARE(timer->interval(), 1);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
#if defined(__linux__)
        QCOMPARE(prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 1);  // ticks are not left to run late
#endif
        QVERIFY(!timer->isActive());
        QVERIFY(w.messages.isEmpty());
    }

    // Every row of the table of controls has its widget on its page, showing the
    // row's caption and default: a control the panel lacks cannot go unnoticed.
    void everyControlOfTheTableIsOnThePanelWithItsCaptionAndDefault()
    {
        TestWindow w;
        QStringList problems;
        for (const ControlDefinition& control : ControlTable()) {
            const Shown shown = ShownBy(w, control);
            const QString name = control.name;
            if (!shown.problem.isEmpty()) problems << name + ": " + shown.problem;
            else if (shown.caption != control.caption) problems << name + ": caption \"" + shown.caption + "\"";
            else if (shown.value != control.defaultValue) problems << name + ": value \"" + shown.value + "\"";
            else if (shown.page != PageTitle(control.page)) problems << name + ": on page \"" + shown.page + "\"";
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
    }

    void threeSingleStepsGiveThreePointsPerSeries()
    {
        TestWindow w;
        StepThrice(w);
        QCOMPARE(w.run().stepCount, 3);
        QCOMPARE(w.get<QLabel>("lbl_Steps")->text(), QString("3"));
        QVERIFY(!w.form.timer()->isActive());
        const QList<QLineSeries*> series = w.form.chart()->Series();
        QCOMPARE(series.size(), 5);
        for (QLineSeries* s : series) {
            QCOMPARE(s->count(), 3);
            QCOMPARE(s->at(2).x(), 3.0);
        }
        QCOMPARE(series[1]->at(0).y(), 0.1);  // max mark: nothing has left a track before the first step
    }

    void newSetupWhileRunningStopsTheTimerAndEmptiesTheChart()
    {
        TestWindow w;
        QTest::mouseClick(w.get<QPushButton>("B_stop"), Qt::LeftButton);
        QTRY_VERIFY(w.run().stepCount >= 5);
        QVERIFY(w.form.timer()->isActive());
        QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
        QVERIFY(!w.form.timer()->isActive());
        QCOMPARE(w.run().stepCount, 0);
        QStringList titles;
        for (QLineSeries* s : w.form.chart()->Series()) {
            QCOMPARE(s->count(), 0);
            titles << s->name();
        }
        QCOMPARE(titles.join("|"), QString("successful Ag`s|max mark|avg travel time|migrated Ag`s|returning"));
        QCOMPARE(w.form.chart()->chart()->title(), QString("average values"));
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        QCOMPARE(w.form.chart()->Series()[0]->at(0).x(), 1.0);
    }

    void destinationCellsAreLimeAfterSetUp()
    {
        for (const char* size : {"2", "7"}) {
            TestWindow w;
            w.get<QLineEdit>("Edit_size")->setText(size);
            QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
            int destinationCells = 0, limePixels = 0;
            for (const TCell& cell : w.run().cells.InPassOrder()) {
                if (cell.kind != kDestination) continue;
                ++destinationCells;
                if (cell.PositionX + cell.Size <= 404 && cell.PositionY + cell.Size <= 404)
                    QVERIFY(w.squareIs(cell, colors::kLime));
            }
            const QImage& layer = w.form.layers().CellLayer();
            for (int y = 0; y < 404; ++y)
                for (int x = 0; x < 404; ++x) limePixels += layer.pixel(x, y) == colors::kLime;
            QVERIFY(destinationCells >= 9 * 5);  // ten blocks of nine, some may overlap
            QVERIFY(limePixels > 0 && limePixels <= destinationCells * 4 * w.run().halfCell * w.run().halfCell);
            QCOMPARE(w.run().destinations.size(), std::size_t(10));
        }
    }

    void agentsAreDrawnWhereTheyStand()
    {
        TestWindow w;
        QTest::mouseClick(w.get<QCheckBox>("CB_showAg"), Qt::LeftButton);
        StepThrice(w);
        // The step draws the agents before it moves them.
        std::vector<TAgent> before = w.run().agents;
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        for (const TAgent& agent : before) QVERIFY(w.agentPixel(agent.pixelX, agent.pixelY) != colors::kWhite);

        QTest::mouseClick(w.get<QPushButton>("B_repaint"), Qt::LeftButton);
        std::map<std::pair<int, int>, QRgb> last;  // a later agent on the same pixel covers an earlier one
        for (const TAgent& agent : w.run().agents)
            last[{agent.pixelX, agent.pixelY}] = agent.mode == kReturning ? colors::kLime : colors::kRed;
        QVERIFY(last.size() > 5);
        for (const auto& [at, color] : last) QCOMPARE(w.agentPixel(at.first, at.second), color);
        int painted = 0;
        const QImage& layer = w.form.layers().AgentLayer();
        for (int y = 0; y < 404; ++y)
            for (int x = 0; x < 404; ++x) painted += layer.pixel(x, y) != colors::kWhite;
        QVERIFY(painted <= int(last.size()) * 9);

        QTest::mouseClick(w.get<QCheckBox>("CB_showAg"), Qt::LeftButton);
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        const TAgent& any = w.run().agents.front();
        QCOMPARE(w.agentPixel(any.pixelX, any.pixelY), colors::kWhite);
    }

    void badAgentMaximumWhileRunningShowsOneErrorAndStopsTheTimer()
    {
        TestWindow w;
        QTest::mouseClick(w.get<QPushButton>("B_stop"), Qt::LeftButton);
        QTRY_VERIFY(w.run().stepCount >= 3);
        w.get<QLineEdit>("Edit_anzAg")->setText("many");
        QTRY_VERIFY(!w.form.timer()->isActive());
        const int stoppedAt = w.run().stepCount;
        QTest::qWait(50);
        QCOMPARE(w.messages, QStringList{"'many' is not a valid integer value"});
        QCOMPARE(w.run().stepCount, stoppedAt);
        QCOMPARE(w.form.chart()->Series()[0]->count(), stoppedAt);
        // While running the label catches up only now and then; stopped, it is up to date.
        QCOMPARE(w.get<QLabel>("lbl_Steps")->text(), QString::number(stoppedAt));
    }

    void failingStepsNeverStackMessageBoxes()
    {
        TForm1 form;  // real modal boxes: the timer keeps ticking inside their event loop
        form.show();
        MessageBoxWatcher watcher;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&watcher] { watcher.Tick(); });
        watch.start(15);
        auto* maximum = form.findChild<QLineEdit*>("Edit_anzAg");
        auto* stop = form.findChild<QLineEdit*>("E_stop");
        // First a handler's message while the timer runs; while it is open, a step fails.
        watcher.whenFirstOpen = [maximum] { maximum->setText("many"); };
        QTest::mouseClick(form.findChild<QPushButton*>("B_stop"), Qt::LeftButton);
        QTRY_VERIFY(form.simulation().run.stepCount >= 2);
        stop->setText("");
        QTRY_COMPARE(watcher.texts.size(), 2);
        QTRY_VERIFY(OpenMessageBoxes().isEmpty());
        QCOMPARE(watcher.mostOpen, 1);
        QCOMPARE(watcher.texts,
                 (QStringList{"'' is not a valid integer value", "'many' is not a valid integer value"}));
        QVERIFY(!form.timer()->isActive());
    }

    void largeGrowthBatchDrawsEveryNewAgent()
    {
        TestWindow w;
        StepThrice(w);
        // A failing service count ends the step right after the agents' batch, so the
        // agent layer still shows what growth drew.
        w.get<QLineEdit>("E_crAgs")->setText("3000");
        w.get<QLineEdit>("E_crServ")->setText("none");
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        QCOMPARE(w.run().agents.size(), std::size_t(3009));
        const QImage drawn = w.form.layers().AgentLayer().copy();
        // Drawing every agent once more, as a full redraw would, changes no pixel.
        w.form.simulation().screen().DrawAgents(0, w.run().agents.size());
        QCOMPARE(w.form.layers().AgentLayer(), drawn);
        for (const TAgent& agent : w.run().agents) QVERIFY(w.agentPixel(agent.pixelX, agent.pixelY) != colors::kWhite);
    }

    void closingWhileTheTimerRunsReleasesTheWindowSafely()
    {
        // Three ways a running window goes: hidden by a close and destroyed later, as
        // the program's main does; destroyed on close with the event loop running on;
        // and closed from inside a timer tick. Each time a typed text has the focus,
        // the field chooser holds a selection and the chart has points, so every part
        // of the window has something to let go of. The sanitizer build reports any
        // use of freed memory here.
        enum class Way { CloseThenDelete, DeleteOnClose, CloseInsideATick };
        for (const Way way : {Way::CloseThenDelete, Way::DeleteOnClose, Way::CloseInsideATick}) {
            auto* form = new TForm1;
            QPointer<TForm1> alive(form);
            QStringList messages;
            form->SetMessageSink([&messages](const QString& message) { messages << message; });
            if (way != Way::CloseThenDelete) form->setAttribute(Qt::WA_DeleteOnClose);
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form));
            form->findChild<QComboBox*>("CB_FieldNr")->setCurrentIndex(1);
            auto* noise = form->findChild<QLineEdit*>("E_noise");
            noise->setFocus();
            noise->setText("25");
            if (way == Way::CloseInsideATick) {
                QObject::connect(form->timer(), &QTimer::timeout, form, [form] {
                    if (form->simulation().run.stepCount >= 4) form->close();
                });
            }
            QTest::mouseClick(form->findChild<QPushButton*>("B_stop"), Qt::LeftButton);
            QTRY_VERIFY(!alive || alive->simulation().run.stepCount >= 3);
            if (way != Way::CloseInsideATick) {
                QVERIFY(form->timer()->isActive());
                form->close();
            }
            if (way == Way::CloseThenDelete) {
                // Hidden, not yet destroyed: events (and ticks) go on until the end.
                for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
                QVERIFY(alive);
                delete form;
            }
            QTRY_VERIFY(alive.isNull());
            // Whatever was still posted for the window finds it gone.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            QVERIFY(messages.isEmpty());
        }
    }

    void potentialFieldRedrawsEveryEmptyCellInGray()
    {
        TestWindow w;
        StepThrice(w);
        QTest::mouseClick(w.get<QCheckBox>("CB_potField"), Qt::LeftButton);
        QCOMPARE(w.form.simulation().controls.CB_potField, true);
        // The range of the population field over the empty cells, from 0.1 and
        // 99999999999, and the gray of each empty cell from it: the scale
        // 255 / (max - min) held as a double, g = (v - min) * scale held as a double
        // and clamped to 0..255, the gray Round(255 - g) with halves to even.
        long double max = 0.1L, min = 99999999999.0L;
        const double* population = w.run().cells.Field(kPopulationField);
        for (const TCell& cell : w.run().cells.InPassOrder()) {
            if (cell.kind != kEmpty) continue;
            max = std::max<long double>(max, population[w.run().cells.IndexOf(cell)]);
            min = std::min<long double>(min, population[w.run().cells.IndexOf(cell)]);
        }
        QCOMPARE(w.run().displayMax, max);
        QCOMPARE(w.run().displayMin, min);
        QVERIFY(max > 0.1L);  // the fields have spread
        const double scale = static_cast<double>(255.0L / (max - min));
        int grays = 0;
        std::vector<bool> seen(256, false);
        for (const TCell& cell : w.run().cells.InPassOrder()) {
            if (cell.kind != kEmpty) continue;
            const double value = population[w.run().cells.IndexOf(cell)];
            const double g = std::clamp(static_cast<double>((value - min) * scale), 0.0, 255.0);
            const int gray = static_cast<int>(std::nearbyint(255.0L - g));  // ties to even
            QVERIFY(w.squareIs(cell, qRgb(gray, gray, gray)));
            if (!seen[gray]) ++grays;
            seen[gray] = true;
        }
        QVERIFY(grays > 20);  // a spread field, not a few flat tones
    }

    void grayLevelsOfHandSetFieldValues()
    {
        // Empty cells all at 0 but five, one of them at 255: the range is 0..255, so
        // the scale is 1 and the gray is 255 - v, with halves to even.
        TestWindow w;
        struct Case {
            int column, row;
            double value;
            int gray;
        };
        const Case cases[] = {
            {10, 10, 255.0, 0},      // the maximum: black
            {20, 20, 126.5, 128},    // 128.5 to the even 128 (not 129)
            {21, 20, 0.5, 254},      // 254.5 to the even 254
            {22, 20, 1.5, 254},      // 253.5 to the even 254
            {23, 20, 63.75, 191},    // 191.25
            {24, 20, 0.0, 255},      // the minimum: white
        };
        for (const Case& c : cases) {
            QCOMPARE(w.run().cells(c.column, c.row).kind, kEmpty);
            w.run().cells.Potential(c.column, c.row, 0) = c.value;
        }
        QTest::mouseClick(w.get<QCheckBox>("CB_potField"), Qt::LeftButton);
        QCOMPARE(w.run().displayMax, 255.0L);
        QCOMPARE(w.run().displayMin, 0.0L);
        for (const Case& c : cases)
            QVERIFY2(w.squareIs(w.run().cells(c.column, c.row), qRgb(c.gray, c.gray, c.gray)),
                     QByteArray::number(c.value));
        // Destination cells keep their colour.
        QVERIFY(w.squareIs(w.run().cells(0, 6), colors::kLime));

        // The chooser's item "3" is the industry field: 1 on the destination blocks,
        // 0 elsewhere. The empty cells, the range's only members, hold 0 but one at
        // 0.0625, so the range stays at 0..0.1: 0 is white, and 0.0625 gives
        // g = 0.0625 * 2550 = 159.375 and the gray Round(95.625) = 96.
        w.run().cells.Potential(30, 30, 2) = 0.0625;
        w.get<QComboBox>("CB_FieldNr")->setCurrentIndex(2);
        QTest::mouseClick(w.get<QPushButton>("B_repaint"), Qt::LeftButton);
        QCOMPARE(w.run().displayMax, 0.1L);
        QVERIFY(w.squareIs(w.run().cells(20, 20), colors::kWhite));
        QVERIFY(w.squareIs(w.run().cells(30, 30), qRgb(96, 96, 96)));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
