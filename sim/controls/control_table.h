#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/controls/control_state.h"

struct Simulation;

// The one description of every parameter of the model: each control of the
// panel and each data cell of the usage table, with what the window, the
// headless runner, the Python package and the tests need to know of it. Every
// front end sets a control through this table, so a change handler runs the
// same way everywhere.

enum class ControlKind {
    IntegerEdit,   // a text read as a whole number
    RealEdit,      // a text read as a real
    CheckBox,      // on or off: "1" or "0"
    RadioButton,   // on ("1") switches its partner off
    ScrollBar,     // a position 0..180
    FieldChooser,  // the selected item 0..2 of the field chooser
    UsageCell,     // a data cell of the usage table, a text read as a real
};

enum class PanelPage { Setup, Settings, Graphic, Timesteps };

// How a control's range holds: whether a value outside it is refused, and where.
enum class RangeRule {
    None,        // no range beyond the control's kind
    Refused,     // a value outside is refused when it is set (ControlValueError; the runner's exit 64)
    Converted,   // a text outside is refused when the model reads it (ConversionError; the runner's exit 2)
    KeptWithin,  // the change handler brings a value outside back within it
};

using ChangeHandler = void (*)(Simulation&);

struct ControlDefinition {
    const char* name;          // the control's object name; usage cells are StringGrid1.C.R
    ControlKind kind;
    PanelPage page;
    const char* defaultValue;  // as the panel shows it when the window opens
    const char* caption;       // its caption or label on the panel
    const char* meaning;       // one line for users
    const char* range;         // the values it holds, as rangeRule enforces them; "" without a range
    ChangeHandler onChange;    // runs after every change; nullptr when the value is only read at its moments
    const char* unit = "";     // the unit of its value; "" for a number without one or an on/off state
    const char* typical = "";  // the values the model is meant for; never checked. "" when the range says it all
    RangeRule rangeRule = RangeRule::None;

    // Where the value lives in the control state: one of these, by kind.
    std::string ControlState::*text = nullptr;       // edits
    bool ControlState::*checked = nullptr;           // check boxes and radio buttons
    std::int32_t ControlState::*number = nullptr;    // scroll bars and the field chooser
    const char* partner = nullptr;                   // radio buttons: the other button of the pair
    int usageColumn = 0;                             // usage cells: 1..5
    int usageRow = 0;                                // usage cells: 1..3
};

// The control's range in words, for --help, the reference page and the window's
// tooltips: what is enforced and how, then the typical values, which are not.
std::string RangeText(const ControlDefinition& control);

// A value that the control cannot hold at all (a check state other than 0 or 1, a
// scroll position outside 0..180, an unknown name): a caller's mistake, unlike a
// text that does not convert, which the control holds and the model refuses when
// it reads it.
class ControlValueError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

std::span<const ControlDefinition> ControlTable();
// nullptr for a name that is no control of the table.
const ControlDefinition* FindControl(std::string_view name);
// The usage-table cell at (column, row); nullptr outside columns 1..5, rows 1..3.
const ControlDefinition* FindUsageCell(int column, int row);
const char* PageTitle(PanelPage page);
// What a kind of control takes, in a word or two: "integer", "real", "check box" ...
const char* KindName(ControlKind kind);

// Throws ControlValueError when there is no such control or it cannot hold the
// value; changes nothing. Lets a front end refuse a mistake before anything runs.
void CheckControlValue(std::string_view name, std::string_view value);

// The control's value as text, in the form SetControl takes it.
std::string ControlValue(const ControlState& controls, const ControlDefinition& control);

// Stores a value as the control would hold it, without its change handler.
// Throws ControlValueError for a value the control cannot hold.
void WriteControl(ControlState& controls, const ControlDefinition& control, std::string_view value);

// Changes a control as the user would: stores the value, then runs the change
// handler (and, for a radio button, its partner's state follows). A handler that
// reads a text that does not convert throws ConversionError with the value kept.
void SetControl(Simulation& sim, const ControlDefinition& control, std::string_view value);
// The same by name; an unknown name throws ControlValueError.
void SetControl(Simulation& sim, std::string_view name, std::string_view value);

// Typed forms for the window, which holds widgets rather than texts.
void SetControlText(Simulation& sim, const ControlDefinition& control, std::string text);
void SetControlChecked(Simulation& sim, const ControlDefinition& control, bool checked);
void SetControlNumber(Simulation& sim, const ControlDefinition& control, std::int32_t number);

// Reads an edit's text as the model uses it; a text that does not convert throws
// ConversionError naming the control.
std::int32_t ReadInteger(const ControlState& controls, std::string ControlState::*edit);
double ReadReal(const ControlState& controls, std::string ControlState::*edit);
