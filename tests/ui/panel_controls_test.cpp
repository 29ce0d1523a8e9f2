// The panel's validation and echo handlers, and controls that take effect at once.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "tests/ui/test_window.h"
#include "ui/control_binder.h"
#include "ui/usage_grid.h"

class PanelControlsTest : public QObject {
    Q_OBJECT
private slots:
    // Each control's tooltip holds its meaning, unit and range from the control
    // table, and every control of the table has its widget (or grid cell) to show it.
    void everyControlExplainsItselfInItsTooltip()
    {
        TestWindow w;
        auto* grid = w.get<UsageGrid>("StringGrid1");
        for (const ControlDefinition& control : ControlTable()) {
            const QString tip = control.kind == ControlKind::UsageCell
                                    ? grid->item(control.usageRow, control.usageColumn)->toolTip()
                                    : w.get<QWidget>(control.name)->toolTip();
            QCOMPARE(tip, ControlToolTip(control));
            QVERIFY2(tip.startsWith(QString::fromUtf8(control.meaning)), control.name);
            QVERIFY2(tip.contains(QString::fromUtf8(control.unit)), control.name);
            QVERIFY2(tip.endsWith(QString::fromStdString(RangeText(control))), control.name);
        }
        // Giving the grid its tooltips edited no cell.
        QVERIFY(w.messages.isEmpty());
    }

    void cellSizeIsKeptWithinTwoToTen()
    {
        TestWindow w;
        auto* size = w.get<QLineEdit>("Edit_size");
        size->selectAll();
        QTest::keyClicks(size, "1");  // a lone 1 becomes 2 at once
        QCOMPARE(size->text(), QString("2"));
        size->selectAll();
        QTest::keyClicks(size, "57");  // 5, then 57, clamped
        QCOMPARE(size->text(), QString("10"));
        QCOMPARE(w.form.simulation().controls.Edit_size, std::string("10"));
        QCOMPARE(w.run().cellSize, 2);  // read by the next set-up only
        QVERIFY(w.messages.isEmpty());

        size->selectAll();
        QTest::keyClick(size, Qt::Key_Backspace);
        QCOMPARE(w.messages, QStringList{"'' is not a valid integer value"});
        QCOMPARE(size->text(), QString());

        // The two resource edits share the check: it tests the cell size, never their own text.
        auto* services = w.get<QLineEdit>("E_crServ");
        services->setText("x");
        QCOMPARE(services->text(), QString("x"));
        QCOMPARE(w.messages.size(), 2);
        size->setText("4");
        w.get<QLineEdit>("E_crIndu")->setText("99");
        QCOMPARE(w.get<QLineEdit>("E_crIndu")->text(), QString("99"));
        QCOMPARE(w.messages.size(), 2);

        QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
        QCOMPARE(w.run().cellSize, 4);
        QCOMPARE(w.run().columns, 101);
    }

    void failedSetUpKeepsTheRunningRun()
    {
        TestWindow w;
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        w.get<QLineEdit>("E_stop")->setText("soon");
        QCOMPARE(w.messages, QStringList{"'soon' is not a valid integer value"});
        QCOMPARE(w.run().stopTime, 800);
        QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
        QCOMPARE(w.messages.size(), 2);
        QCOMPARE(w.run().stepCount, 1);
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        QCOMPARE(w.run().stepCount, 2);
    }

    void everyEditFollowsTheConversionRule()
    {
        // Typed into the panel, each text gives the message where the field is read
        // (at once, at "new Setup" or at the next step), or a run that carries on.
        const char* edits[] = {"Edit_anzAg", "Edit_size", "E_crAgs", "E_crServ", "E_crIndu", "E_decay",
                               "E_CProbab", "E_migTh", "E_noise", "E_stop", "E_grav"};
        for (const char* name : edits) {
            for (const QString& text : {QString("1e400"), QString("0x10"), QString(" 12"), QString("nan")}) {
                TestWindow w;
                for (const char* box : {"CB_decay", "CB_migrate", "CB_gravity"}) w.get<QCheckBox>(box)->setChecked(true);
                w.get<QLineEdit>("E_migTh")->setText("0");
                w.get<QLineEdit>(name)->setText(text);
                QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
                for (int i = 0; i < 4; ++i) QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
                const bool real = QString("E_decay E_CProbab E_noise E_grav").contains(name);
                const QString message =
                    "'" + text + "' is not a valid " + (real ? "floating point" : "integer") + " value";
                if (text == " 12") {
                    QVERIFY2(w.messages.isEmpty(), name);
                    QCOMPARE(w.run().stepCount, 4);
                } else {
                    QVERIFY2(!w.messages.isEmpty(), name);
                    for (const QString& shown : w.messages) QCOMPARE(shown, message);
                }
            }
        }
    }

    void emptiedNoiseBecomesZero()
    {
        TestWindow w;
        auto* noise = w.get<QLineEdit>("E_noise");
        noise->selectAll();
        QTest::keyClick(noise, Qt::Key_Delete);
        QCOMPARE(noise->text(), QString("0"));
        QCOMPARE(w.form.simulation().controls.E_noise, std::string("0"));
    }

    void scrollBarsEchoTheirPosition()
    {
        TestWindow w;
        w.get<QScrollBar>("TrB_thresh")->setValue(180);
        QCOMPARE(w.get<QLabel>("Lbl_B")->text(), QString("180 Grad"));
        QCOMPARE(w.form.simulation().controls.TrB_thresh, 180);
        w.get<QScrollBar>("SB_wiggle")->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(w.get<QLabel>("Lbl_wiggle")->text(), QString("15 Grad"));
        QCOMPARE(w.form.simulation().controls.SB_wiggle, 15);
    }

    void returnModeFollowsTheRadioButtonsAtOnce()
    {
        TestWindow w;
        QCOMPARE(w.run().returnMode, ReturnMode::UseExistingTracks);
        QTest::mouseClick(w.get<QRadioButton>("rb_direct"), Qt::LeftButton);
        QCOMPARE(w.run().returnMode, ReturnMode::DirectWay);
        QCOMPARE(w.form.simulation().controls.rb_hillCl, false);
        QTest::mouseClick(w.get<QRadioButton>("rb_hillCl"), Qt::LeftButton);
        QCOMPARE(w.run().returnMode, ReturnMode::UseExistingTracks);
        QTest::mouseClick(w.get<QRadioButton>("rb_rulette"), Qt::LeftButton);
        QCOMPARE(w.form.simulation().controls.rb_rulette, true);
        QCOMPARE(w.form.simulation().controls.rb_hill, false);
    }

    void typedFieldChooserKeepsTheLastValidField()
    {
        TestWindow w;
        auto* chooser = w.get<QComboBox>("CB_FieldNr");
        chooser->setCurrentIndex(2);
        QCOMPARE(w.form.simulation().controls.CB_FieldNr, 2);
        chooser->setEditText("nine");
        QCOMPARE(w.form.simulation().controls.CB_FieldNr, -1);
        QTest::mouseClick(w.get<QCheckBox>("CB_potField"), Qt::LeftButton);
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        QCOMPARE(w.run().shownField, 2);
        QCOMPARE(w.run().cells(0, 0).shownFieldNumber, 2);
    }

    void allBlackIsCopiedIntoTheCellsAndDrawsNothing()
    {
        TestWindow w;
        const QImage before = w.form.layers().CellLayer();
        QTest::mouseClick(w.get<QCheckBox>("Cb_allBlack"), Qt::LeftButton);
        QVERIFY(w.run().cells(5, 5).allBlack);
        QCOMPARE(w.form.layers().CellLayer(), before);
        QTest::mouseClick(w.get<QPushButton>("B_repaint"), Qt::LeftButton);
        const Destination& first = w.run().destinations.front();
        QCOMPARE(w.cellPixel(first.pixelX, first.pixelY), colors::kWhite);
        QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
        QVERIFY(!w.run().cells(5, 5).allBlack);  // new cells start with the flag clear
    }
};

QTEST_MAIN(PanelControlsTest)
#include "panel_controls_test.moc"
