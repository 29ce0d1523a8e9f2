#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>

#include "sim/controls/control_state.h"

class UsageGrid;

// Every control of the panel beside the drawing panel and the chart, each
// carrying its name as object name. Only construction and layout live here;
// the window wires the controls to the simulation.
struct ControlPanel {
    QTabWidget* PageControl1 = nullptr;
    QWidget* setupPage = nullptr;
    QWidget* settingsPage = nullptr;
    QWidget* graphicPage = nullptr;

    // Page "Setup"
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* B_setup = nullptr;
    QPushButton* B_stop = nullptr;
    QPushButton* B_oneStep = nullptr;
    QLineEdit* Edit_anzAg = nullptr;
    QLabel* Lbl_TextAnzahl = nullptr;
    QLineEdit* Edit_size = nullptr;
    QLabel* Label2 = nullptr;
    QGroupBox* RadioGroup_chem = nullptr;
    QRadioButton* rb_rulette = nullptr;
    QRadioButton* rb_hill = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* E_crAgs = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* E_crServ = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* E_crIndu = nullptr;
    QLabel* Label10 = nullptr;

    // Page "Settings"
    QLabel* Label1 = nullptr;
    QLabel* Lbl_B = nullptr;
    QScrollBar* TrB_thresh = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Lbl_wiggle = nullptr;
    QScrollBar* SB_wiggle = nullptr;
    QLineEdit* E_decay = nullptr;
    QCheckBox* CB_decay = nullptr;
    QLineEdit* E_CProbab = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* E_migTh = nullptr;
    QCheckBox* CB_migrate = nullptr;
    QLineEdit* E_noise = nullptr;
    QLabel* Label6 = nullptr;
    QGroupBox* RadioGroup_return = nullptr;
    QRadioButton* rb_direct = nullptr;
    QRadioButton* rb_hillCl = nullptr;
    UsageGrid* StringGrid1 = nullptr;
    QPushButton* B_reset = nullptr;

    // Page "Graphic"
    QGroupBox* GroupBox4 = nullptr;
    QCheckBox* CB_noTracks = nullptr;
    QCheckBox* CB_showOrig = nullptr;
    QCheckBox* CB_showAB = nullptr;
    QCheckBox* cb_noDesti = nullptr;
    QCheckBox* Cb_allBlack = nullptr;
    QCheckBox* CB_potField = nullptr;
    QComboBox* CB_FieldNr = nullptr;
    QCheckBox* CB_showAg = nullptr;
    QCheckBox* CB_gravity = nullptr;
    QLineEdit* E_grav = nullptr;
    QPushButton* B_repaint = nullptr;

    // Frame "timesteps"
    QGroupBox* GroupBox2 = nullptr;
    QLabel* lbl_Steps = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* E_stop = nullptr;
};

// Builds the tab control and the "timesteps" frame on the window at their
// fixed positions, with the captions and the values of the given state.
ControlPanel BuildControlPanel(QWidget* window, const ControlState& values);
