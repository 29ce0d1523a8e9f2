#include "ui/control_panel.h"

#include <QFontInfo>
#include <algorithm>
#include <climits>
#include <functional>

#include "sim/controls/control_table.h"
#include "ui/group_frame.h"
#include "ui/usage_grid.h"

namespace {

// The least blank room between the end of a caption and the next control.
constexpr int kCaptionGap = 4;
// Captions shrink a pixel at a time to fit their room, but not below this size.
constexpr int kSmallestPixelSize = 7;
// The width a page of the tab control offers its controls (the control is 297
// wide; its frame takes a few pixels on each side).
constexpr int kPageWidth = 289;
// The longest text an angle echo label shows.
constexpr const char* kWidestAngle = "180 Grad";

// Where a frame's inside ends on the right, short of its frame line.
int FrameInside(const QWidget* frame)
{
    return frame->width() - 2;
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// A control's caption on the panel, from the table of controls.
const char* CaptionOf(const char* name)
{
    const ControlDefinition* control = FindControl(name);
    return control ? control->caption : "";
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(left, top, width, height);
    return widget;
}

// Shrinks the widget's font until what `needed` measures with it fits in `room`.
// Positions are fixed, so a font wider than the one the layout was made for
// would otherwise run a caption into its neighbour or cut it off.
void ShrinkFontToFit(QWidget* widget, int room, const std::function<int()>& needed)
{
    QFont font = widget->font();
    int size = QFontInfo(font).pixelSize();
    while (needed() > room && size > kSmallestPixelSize) {
        font.setPixelSize(--size);
        widget->setFont(font);
    }
}

// Labels size themselves to their caption. `rightLimit` is where the next control
// on the label's line starts (or its parent ends); `widest` is the longest text
// the label will show, when that is not the caption it starts with.
QLabel* PlaceLabel(QWidget* parent, const char* name, const char* caption, int left, int top, int rightLimit,
                   const char* widest = nullptr)
{
    auto* label = new QLabel(widest ? widest : caption, parent);
    label->setObjectName(name);
    ShrinkFontToFit(label, rightLimit - kCaptionGap - left, [label] { return label->sizeHint().width(); });
    label->setText(caption);
    label->move(left, top);
    label->adjustSize();
    return label;
}

// The label beside a control, carrying the control's caption from the table;
// the label names the control as its buddy.
QLabel* PlaceCaption(QWidget* parent, const char* name, QWidget* control, int left, int top, int rightLimit)
{
    QLabel* label = PlaceLabel(parent, name, CaptionOf(control->objectName().toUtf8().constData()), left, top,
                               rightLimit);
    label->setBuddy(control);
    return label;
}

// A captioned button keeps its caption within its own width, and short of the
// next control when that starts sooner.
template <typename Button>
Button* FitCaption(Button* button, int rightLimit)
{
    const int room = std::min(button->width(), rightLimit - kCaptionGap - button->x());
    ShrinkFontToFit(button, room, [button] { return button->sizeHint().width(); });
    return button;
}

QLineEdit* PlaceEdit(QWidget* parent, const char* name, const std::string& text, int left, int top, int width,
                     int height)
{
    return Place(new QLineEdit(Text(text), parent), name, left, top, width, height);
}

QPushButton* PlaceButton(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                         int height)
{
    return Place(new QPushButton(caption, parent), name, left, top, width, height);
}

QCheckBox* PlaceCheckBox(QWidget* parent, const char* name, bool checked, int left, int top, int width, int height,
                         int rightLimit = INT_MAX)
{
    auto* box = Place(new QCheckBox(CaptionOf(name), parent), name, left, top, width, height);
    box->setChecked(checked);
    return FitCaption(box, rightLimit);
}

QRadioButton* PlaceRadio(QWidget* parent, const char* name, bool checked, int left, int top, int width, int height)
{
    auto* button = Place(new QRadioButton(CaptionOf(name), parent), name, left, top, width, height);
    button->setChecked(checked);
    return FitCaption(button, INT_MAX);
}

QGroupBox* PlaceFrame(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                      int height)
{
    return Place(new GroupFrame(caption, parent), name, left, top, width, height);
}

QScrollBar* PlaceScrollBar(QWidget* parent, const char* name, int position, int left, int top, int width,
                           int height)
{
    auto* bar = Place(new QScrollBar(Qt::Horizontal, parent), name, left, top, width, height);
    bar->setRange(kScrollMinimum, kScrollMaximum);
    bar->setPageStep(5);
    bar->setSingleStep(1);
    bar->setValue(position);
    return bar;
}

void BuildSetupPage(ControlPanel& p, QWidget* page, const ControlState& v)
{
    p.GroupBox1 = PlaceFrame(page, "GroupBox1", "setup settings", 16, 8, 257, 113);
    p.B_setup = PlaceButton(p.GroupBox1, "B_setup", "new Setup", 6, 24, 75, 25);
    p.B_stop = PlaceButton(p.GroupBox1, "B_stop", "start / stop", 86, 24, 75, 25);
    p.B_oneStep = PlaceButton(p.GroupBox1, "B_oneStep", "one step", 166, 24, 75, 25);
    p.Edit_anzAg = PlaceEdit(p.GroupBox1, "Edit_anzAg", v.Edit_anzAg, 8, 56, 41, 20);
    p.Lbl_TextAnzahl = PlaceCaption(p.GroupBox1, "Lbl_TextAnzahl", p.Edit_anzAg, 54, 60, FrameInside(p.GroupBox1));
    p.Edit_size = PlaceEdit(p.GroupBox1, "Edit_size", v.Edit_size, 8, 80, 41, 20);
    p.Label2 = PlaceCaption(p.GroupBox1, "Label2", p.Edit_size, 54, 84, FrameInside(p.GroupBox1));

    p.RadioGroup_chem = PlaceFrame(page, "RadioGroup_chem", "sniff chemicals with", 16, 133, 257, 52);
    p.rb_rulette = PlaceRadio(page, "rb_rulette", v.rb_rulette, 32, 157, 81, 17);
    p.rb_hill = PlaceRadio(page, "rb_hill", v.rb_hill, 144, 157, 81, 17);

    p.GroupBox3 = PlaceFrame(page, "GroupBox3", "create per time step", 16, 200, 257, 105);
    p.E_crAgs = PlaceEdit(p.GroupBox3, "E_crAgs", v.E_crAgs, 8, 24, 25, 20);
    p.Label9 = PlaceCaption(p.GroupBox3, "Label9", p.E_crAgs, 38, 28, FrameInside(p.GroupBox3));
    p.E_crServ = PlaceEdit(p.GroupBox3, "E_crServ", v.E_crServ, 8, 48, 25, 20);
    p.Label8 = PlaceCaption(p.GroupBox3, "Label8", p.E_crServ, 38, 52, FrameInside(p.GroupBox3));
    p.E_crIndu = PlaceEdit(p.GroupBox3, "E_crIndu", v.E_crIndu, 8, 72, 25, 20);
    p.Label10 = PlaceCaption(p.GroupBox3, "Label10", p.E_crIndu, 38, 76, FrameInside(p.GroupBox3));
}

void BuildSettingsPage(ControlPanel& p, QWidget* page, const ControlState& v)
{
    p.TrB_thresh = PlaceScrollBar(page, "TrB_thresh", v.TrB_thresh, 8, 32, 113, 17);
    p.Label1 = PlaceCaption(page, "Label1", p.TrB_thresh, 8, 13, 90);
    p.Lbl_B = PlaceLabel(page, "Lbl_B", "___", 90, 13, 144, kWidestAngle);
    p.SB_wiggle = PlaceScrollBar(page, "SB_wiggle", v.SB_wiggle, 144, 32, 113, 17);
    p.Label3 = PlaceCaption(page, "Label3", p.SB_wiggle, 144, 13, 226);
    p.Lbl_wiggle = PlaceLabel(page, "Lbl_wiggle", "___", 226, 13, kPageWidth, kWidestAngle);

    p.E_decay = PlaceEdit(page, "E_decay", v.E_decay, 8, 58, 33, 20);
    p.CB_decay = PlaceCheckBox(page, "CB_decay", v.CB_decay, 47, 60, 82, 17, 144);
    p.E_CProbab = PlaceEdit(page, "E_CProbab", v.E_CProbab, 144, 57, 33, 20);
    p.Label7 = PlaceCaption(page, "Label7", p.E_CProbab, 183, 62, kPageWidth);
    p.E_migTh = PlaceEdit(page, "E_migTh", v.E_migTh, 8, 82, 33, 20);
    p.CB_migrate = PlaceCheckBox(page, "CB_migrate", v.CB_migrate, 47, 84, 90, 17, 144);
    p.E_noise = PlaceEdit(page, "E_noise", v.E_noise, 144, 82, 33, 20);
    p.Label6 = PlaceCaption(page, "Label6", p.E_noise, 183, 86, kPageWidth);

    p.RadioGroup_return = PlaceFrame(page, "RadioGroup_return", "return mode", 8, 125, 273, 52);
    p.rb_direct = PlaceRadio(page, "rb_direct", v.rb_direct, 24, 149, 81, 17);
    p.rb_hillCl = PlaceRadio(page, "rb_hillCl", v.rb_hillCl, 144, 149, 105, 17);

    p.StringGrid1 = Place(new UsageGrid(page), "StringGrid1", 8, 201, 281, 88);
    QFont gridFont = p.StringGrid1->font();
    gridFont.setPixelSize(11);
    p.StringGrid1->setFont(gridFont);
    p.B_reset = PlaceButton(page, "B_reset", "reset values", 206, 296, 75, 25);
}

void BuildGraphicPage(ControlPanel& p, QWidget* page, const ControlState& v)
{
    p.GroupBox4 = PlaceFrame(page, "GroupBox4", "output", 8, 8, 273, 185);
    QWidget* box = p.GroupBox4;
    p.CB_noTracks = PlaceCheckBox(box, "CB_noTracks", v.CB_noTracks, 8, 16, 113, 17);
    p.CB_showOrig = PlaceCheckBox(box, "CB_showOrig", v.CB_showOrig, 8, 32, 121, 17);
    p.CB_showAB = PlaceCheckBox(box, "CB_showAB", v.CB_showAB, 8, 48, 129, 17);
    p.cb_noDesti = PlaceCheckBox(box, "cb_noDesti", v.cb_noDesti, 8, 64, 129, 17);
    p.Cb_allBlack = PlaceCheckBox(box, "Cb_allBlack", v.Cb_allBlack, 8, 80, 129, 17);
    p.CB_potField = PlaceCheckBox(box, "CB_potField", v.CB_potField, 8, 112, 121, 17,
                                  136);
    p.CB_FieldNr = Place(new QComboBox(box), "CB_FieldNr", 136, 112, 33, 20);
    p.CB_FieldNr->setEditable(true);
    p.CB_FieldNr->setInsertPolicy(QComboBox::NoInsert);
    p.CB_FieldNr->setEditText("Choose SetupMode");
    p.CB_showAg = PlaceCheckBox(box, "CB_showAg", v.CB_showAg, 8, 144, 81, 17);
    p.CB_gravity =
        PlaceCheckBox(box, "CB_gravity", v.CB_gravity, 8, 160, 145, 17, 152);
    p.CB_gravity->setEnabled(false);
    p.E_grav = PlaceEdit(box, "E_grav", v.E_grav, 152, 160, 25, 20);
    p.E_grav->setEnabled(false);
    p.B_repaint = PlaceButton(box, "B_repaint", "repaint all", 190, 16, 75, 49);
}

void BuildTimestepsFrame(ControlPanel& p, QWidget* window, const ControlState& v)
{
    p.GroupBox2 = PlaceFrame(window, "GroupBox2", PageTitle(PanelPage::Timesteps), 424, 373, 297, 41);
    p.lbl_Steps = new QLabel("lbl_Steps", p.GroupBox2);
    p.lbl_Steps->setObjectName("lbl_Steps");
    // A fixed box with centred text, so a growing count does not move the label.
    p.lbl_Steps->setGeometry(48, 18, 64, 15);
    p.lbl_Steps->setAlignment(Qt::AlignCenter);
    p.lbl_Steps->setLayoutDirection(Qt::RightToLeft);
    p.E_stop = PlaceEdit(p.GroupBox2, "E_stop", v.E_stop, 208, 13, 57, 20);
    p.Label4 = PlaceCaption(p.GroupBox2, "Label4", p.E_stop, 144, 18, 208);
}

}  // namespace

ControlPanel BuildControlPanel(QWidget* window, const ControlState& values)
{
    ControlPanel p;
    p.PageControl1 = Place(new QTabWidget(window), "PageControl1", 424, 9, 297, 360);
    p.setupPage = new QWidget();
    p.setupPage->setObjectName("TabSheet_Setup");
    p.settingsPage = new QWidget();
    p.settingsPage->setObjectName("TabSheet_Settings");
    p.graphicPage = new QWidget();
    p.graphicPage->setObjectName("TabSheet_Graphic");
    p.PageControl1->addTab(p.setupPage, PageTitle(PanelPage::Setup));
    p.PageControl1->addTab(p.settingsPage, PageTitle(PanelPage::Settings));
    p.PageControl1->addTab(p.graphicPage, PageTitle(PanelPage::Graphic));

    BuildSetupPage(p, p.setupPage, values);
    BuildSettingsPage(p, p.settingsPage, values);
    BuildGraphicPage(p, p.graphicPage, values);
    BuildTimestepsFrame(p, window, values);

    p.PageControl1->setCurrentWidget(p.settingsPage);
    return p;
}
