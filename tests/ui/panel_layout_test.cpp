// The panel as laid out: frames with their caption on the top line, captions
// that neither touch their neighbours nor are cut off, whatever the font, and a
// steps axis with whole steps only.
#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <cmath>

#include "tests/ui/test_window.h"
#include "ui/control_panel.h"
#include "ui/group_frame.h"

namespace {

// Every captioned control that is sized to or within its caption.
QList<QWidget*> CaptionedControls(QWidget* root)
{
    QList<QWidget*> result;
    for (QLabel* label : root->findChildren<QLabel*>())
        if (!label->objectName().isEmpty()) result << label;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button)) result << button;
    return result;
}

// Where a caption's drawing ends: a label's own box; for a check box or a radio
// button the box, mark and text it asks for.
int CaptionEnd(QWidget* control)
{
    return control->x() + control->sizeHint().width();
}

// Checks that no caption is cut off and that none touches a control to its right
// on the same line or runs out of its parent.
void CheckCaptionsHaveRoom(QWidget* root)
{
    for (QWidget* control : CaptionedControls(root)) {
        const QString name = control->objectName();
        QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(name + " is cut off"));
        QWidget* parent = control->parentWidget();
        QVERIFY2(CaptionEnd(control) <= parent->width() - 2, qPrintable(name + " runs out of its parent"));
        for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (sibling == control || sibling->x() <= control->x()) continue;
            const QRect a = control->geometry(), b = sibling->geometry();
            const bool sameLine = a.top() <= b.bottom() && b.top() <= a.bottom();
            if (!sameLine) continue;
            QVERIFY2(CaptionEnd(control) < sibling->x(),
                     qPrintable(name + " touches " + sibling->objectName()));
        }
    }
}

}  // namespace

class PanelLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void framesDrawTheirCaptionOnTheTopLine()
    {
        TestWindow w;
        const QList<GroupFrame*> frames = w.form.findChildren<GroupFrame*>();
        QCOMPARE(frames.size(), 6);
        for (GroupFrame* frame : frames) {
            const QString name = frame->objectName();
            const QRect caption = frame->CaptionRect();
            QVERIFY2(caption.top() < frame->TopLineY() && frame->TopLineY() < caption.bottom(), qPrintable(name));
            QVERIFY2(frame->rect().contains(caption), qPrintable(name));
            // Children keep their places from the frame's corner, below the line and clear of the caption.
            for (QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const QString what = name + "/" + child->objectName();
                QVERIFY2(child->y() > frame->TopLineY(), qPrintable(what + " crosses the top line"));
                QVERIFY2(!child->geometry().intersects(caption), qPrintable(what + " covers the caption"));
                QVERIFY2(frame->rect().contains(child->geometry()), qPrintable(what + " sticks out"));
            }
        }
        QCOMPARE(w.get<QWidget>("E_stop")->pos(), QPoint(208, 13));
        QCOMPARE(w.get<QWidget>("CB_noTracks")->pos(), QPoint(8, 16));
        QCOMPARE(w.get<QWidget>("B_repaint")->pos(), QPoint(190, 16));

        // The radio buttons belong to their page, inside their frames' lines.
        for (auto [frameName, buttonName] : {std::pair{"RadioGroup_chem", "rb_rulette"},
                                             std::pair{"RadioGroup_chem", "rb_hill"},
                                             std::pair{"RadioGroup_return", "rb_direct"},
                                             std::pair{"RadioGroup_return", "rb_hillCl"}}) {
            auto* frame = w.get<GroupFrame>(frameName);
            QRect button = w.get<QWidget>(buttonName)->geometry().translated(-frame->pos());
            QVERIFY2(frame->rect().adjusted(1, frame->TopLineY() + 1, -1, -1).contains(button), buttonName);
        }
    }

    // The line is drawn where TopLineY says, not where a style would put it.
    void theTopLineIsDrawnThroughTheCaption()
    {
        TestWindow w;
        auto* frame = w.get<GroupFrame>("GroupBox2");  // "timesteps", 41 pixels high
        const QImage image = frame->grab().toImage();
        const QRgb background = frame->palette().window().color().rgb();
        const int line = frame->TopLineY();
        const int x = frame->CaptionRect().right() + 20;  // between the caption and the step count
        QVERIFY(image.pixel(x, line) != background || image.pixel(x, line + 1) != background);
        for (int y = 0; y < line; ++y) QCOMPARE(image.pixel(x, y), background);
        QCOMPARE(image.pixel(x, line + 4), background);
        QVERIFY(image.pixel(frame->width() - 1, frame->height() - 1) != background);  // the bottom line
    }

    void captionsHaveRoomInTheWindow()
    {
        TestWindow w;
        // The angle echoes at their longest.
        w.get<QScrollBar>("TrB_thresh")->setValue(180);
        w.get<QScrollBar>("SB_wiggle")->setValue(180);
        QCOMPARE(w.get<QLabel>("Lbl_wiggle")->text(), QString("180 Grad"));
        CheckCaptionsHaveRoom(&w.form);
    }

    void captionsHaveRoomWithAWideFont()
    {
        for (const char* family : {"DejaVu Sans", "DejaVu Serif"}) {
            for (int pixels : {10, 13}) {
                QWidget host;
                QFont font(family);
                font.setPixelSize(pixels);
                host.setFont(font);
                host.resize(731, 705);
                ControlPanel panel = BuildControlPanel(&host, ControlState{});
                for (QLabel* echo : {panel.Lbl_B, panel.Lbl_wiggle}) {
                    echo->setText("180 Grad");
                    echo->adjustSize();
                }
                host.show();
                CheckCaptionsHaveRoom(&host);
            }
        }
    }

    void theStepsAxisShowsWholeStepsOnly()
    {
        TestWindow w;
        QValueAxis* steps = w.form.chart()->BottomAxis();
        for (int step = 1; step <= 12; ++step) {
            QTest::mouseClick(w.get<QPushButton>("B_oneStep"), Qt::LeftButton);
            QCOMPARE(steps->tickType(), QValueAxis::TicksDynamic);
            QVERIFY2(steps->tickInterval() >= 1.0, qPrintable(QString::number(step)));
            QCOMPARE(std::floor(steps->tickInterval()), steps->tickInterval());
            QCOMPARE(std::floor(steps->tickAnchor()), steps->tickAnchor());
            QCOMPARE(std::floor(steps->min()), steps->min());
            QCOMPARE(steps->max(), double(std::max(step, 2)));
        }
    }
};

QTEST_MAIN(PanelLayoutTest)
#include "panel_layout_test.moc"
