// Typing into the usage table with real key events.
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "tests/ui/test_window.h"
#include "ui/usage_grid.h"

namespace {

// Opens the in-place editor of a data cell (column, row) by typing its first key.
QLineEdit* TypeInto(UsageGrid* grid, int column, int row, const QString& text)
{
    grid->setFocus();
    grid->setCurrentCell(row, column);
    QTest::keyClick(grid, text.at(0).toLatin1());
    auto* editor = grid->findChild<QLineEdit*>();
    if (!editor) qFatal("no editor opened");
    QTest::keyClicks(editor, text.mid(1));
    return editor;
}

// Closes every message box that opens with Esc, pressed on the box as a user
// would, and counts the boxes.
struct EscapeClosesMessageBoxes {
    EscapeClosesMessageBoxes()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box == lastBox) return;
            lastBox = box;
            ++opened;
            QTest::keyPress(box, Qt::Key_Escape);
        });
        poll.start(5);
    }
    QTimer poll;
    QPointer<QMessageBox> lastBox;
    int opened = 0;
};

}  // namespace

class UsageGridTest : public QObject {
    Q_OBJECT
private slots:
    void typingChangesTheParameterAtEveryKeyRelease()
    {
        TestWindow w;
        auto* grid = w.get<UsageGrid>("StringGrid1");
        const UsageParameters& usage = w.form.simulation().usage;
        QCOMPARE(usage.weight[1][1], 1.0);
        QLineEdit* editor = TypeInto(grid, 3, 2, "2");
        QCOMPARE(usage.weight[1][1], 2.0);
        QTest::keyClicks(editor, ",5");  // "2," is read as it stands: 2
        QCOMPARE(usage.weight[1][1], 2.5);
        QCOMPARE(w.form.simulation().controls.StringGrid1[3][2], std::string("2,5"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClick(grid, Qt::Key_Left);  // a release that changes nothing
        QCOMPARE(usage.weight[1][1], 2.5);
        QVERIFY(w.messages.isEmpty());

        // The next growth adds the new weight: the usage survives a new set-up too.
        QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
        QCOMPARE(usage.weight[1][1], 2.5);
        QCOMPARE(grid->Text(3, 2), QString("2,5"));
    }

    void clearingACellReportsItAndKeepsTheLaterParameters()
    {
        TestWindow w;
        auto* grid = w.get<UsageGrid>("StringGrid1");
        UsageParameters& usage = w.form.simulation().usage;
        // Texts changed without a key release are read with the next one.
        grid->item(1, 1)->setText("7");  // diffusion of field 0, read before the cleared cell
        grid->item(3, 5)->setText("9");  // noise of field 2, read after it
        QLineEdit* editor = TypeInto(grid, 3, 1, "x");
        QCOMPARE(w.messages, QStringList{"'x' is not a valid floating point value"});
        QTest::keyClick(editor, Qt::Key_Backspace);
        QCOMPARE(w.messages.size(), 2);
        QCOMPARE(w.messages.last(), QString("'' is not a valid floating point value"));
        QCOMPARE(grid->Text(3, 1), QString());
        QCOMPARE(usage.diffusion[0], 7.0);
        QCOMPARE(usage.weight[0][0], 1.0);
        QCOMPARE(usage.weight[0][1], 0.5);  // the cleared cell keeps its previous value
        QCOMPARE(usage.noise[2], 4.8);
        // The run carries on with the parameters as they stand.
        QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
        QCOMPARE(w.run().stepCount, 1);
    }

    // A key released in the table whose press went elsewhere (the Enter or Esc
    // that closed the error box) does not read the table again.
    void aReleaseWithoutItsPressDoesNotReadTheTable()
    {
        TestWindow w;
        auto* grid = w.get<UsageGrid>("StringGrid1");
        QLineEdit* editor = TypeInto(grid, 3, 1, "x");
        QCOMPARE(w.messages.size(), 1);
        QTest::keyRelease(editor, Qt::Key_Return);
        QTest::keyRelease(grid, Qt::Key_Escape);
        QTest::keyRelease(editor, Qt::Key_X);  // its press was taken by the release before
        QCOMPARE(w.messages.size(), 1);
        // Keys pressed and released in the editor or the grid are still read.
        QTest::keyClick(editor, Qt::Key_Backspace);
        QCOMPARE(w.messages.size(), 2);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(w.messages.size(), 3);
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(w.messages.size(), 4);
    }

    void closingTheErrorBoxWithEscDoesNotReopenIt()
    {
        TForm1 form;  // real modal message boxes
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto* grid = form.findChild<UsageGrid*>("StringGrid1");
        EscapeClosesMessageBoxes closer;
        grid->setFocus();
        grid->setCurrentCell(1, 3);
        QTest::keyClick(grid, Qt::Key_X);  // the release reads "x" and opens the box; Esc closes it
        QCOMPARE(closer.opened, 1);
        QCOMPARE(grid->Text(3, 1), QString("x"));
        // The Esc that closed the box is released on the table, where the focus goes back to.
        QTest::keyRelease(grid, Qt::Key_Escape);
        if (auto* editor = grid->findChild<QLineEdit*>()) QTest::keyRelease(editor, Qt::Key_Escape);
        QCOMPARE(closer.opened, 1);
        QCOMPARE(form.simulation().usage.weight[0][1], 0.5);
    }

    void resetRestoresTheDefaultsWhileRunning()
    {
        TestWindow w;
        auto* grid = w.get<UsageGrid>("StringGrid1");
        TypeInto(grid, 5, 1, "12");
        QCOMPARE(w.form.simulation().usage.noise[0], 12.0);
        QTest::mouseClick(w.get<QPushButton>("B_stop"), Qt::LeftButton);
        QTest::mouseClick(w.get<QPushButton>("B_reset"), Qt::LeftButton);
        QVERIFY(w.form.timer()->isActive());
        QCOMPARE(w.form.simulation().usage.noise[0], 6.0);
        QCOMPARE(grid->Text(5, 1), QString("6,0"));
        QCOMPARE(w.form.simulation().controls.StringGrid1[5][1], std::string("6,0"));
        const int before = w.run().stepCount;
        QTRY_VERIFY(w.run().stepCount > before + 2);
        QTest::mouseClick(w.get<QPushButton>("B_stop"), Qt::LeftButton);
        QVERIFY(w.messages.isEmpty());
    }
};

QTEST_MAIN(UsageGridTest)
#include "usage_grid_test.moc"
