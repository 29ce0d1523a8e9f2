#include "sim/controls/control_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "sim/controls/control_handlers.h"
#include "sim/controls/conversion.h"
#include "sim/core/simulation.h"

namespace {

using K = ControlKind;
using P = PanelPage;
using S = ControlState;

// Integer edits hold any text; the model reads it as a 32-bit whole number.
constexpr const char* kIntegerRange = "-2147483648..2147483647";

ControlDefinition Edit(const char* name, K kind, P page, const char* value, const char* caption, const char* meaning,
                       const char* unit, const char* typical, std::string S::*text, ChangeHandler onChange = nullptr)
{
    const bool integer = kind == K::IntegerEdit;
    ControlDefinition d{name, kind, page, value, caption, meaning, integer ? kIntegerRange : "", onChange};
    d.unit = unit;
    d.typical = typical;
    d.rangeRule = integer ? RangeRule::Converted : RangeRule::None;
    d.text = text;
    return d;
}

ControlDefinition Check(const char* name, P page, const char* value, const char* caption, const char* meaning,
                        bool S::*checked, ChangeHandler onChange = nullptr)
{
    ControlDefinition d{name, K::CheckBox, page, value, caption, meaning, "0 or 1", onChange};
    d.rangeRule = RangeRule::Refused;
    d.checked = checked;
    return d;
}

ControlDefinition Radio(const char* name, P page, const char* value, const char* caption, const char* meaning,
                        bool S::*checked, const char* partner, ChangeHandler onChange = nullptr)
{
    ControlDefinition d{name, K::RadioButton, page, value, caption, meaning, "1 (switches its partner off)", onChange};
    d.rangeRule = RangeRule::Refused;
    d.checked = checked;
    d.partner = partner;
    return d;
}

ControlDefinition Number(const char* name, K kind, P page, const char* value, const char* caption, const char* meaning,
                         const char* unit, std::int32_t S::*number, ChangeHandler onChange = nullptr)
{
    static const std::string scrollRange = std::to_string(kScrollMinimum) + ".." + std::to_string(kScrollMaximum);
    ControlDefinition d{name, kind, page, value, caption, meaning,
                        kind == K::ScrollBar ? scrollRange.c_str() : "0..2", onChange};
    d.unit = unit;
    d.rangeRule = RangeRule::Refused;
    d.number = number;
    return d;
}

ControlDefinition UsageCell(const char* name, int column, int row, const char* value, const char* caption,
                            const char* meaning)
{
    ControlDefinition d{name, K::UsageCell, P::Settings, value, caption, meaning, "", &StringGrid1KeyUp};
    // Column 1 the diffusion coefficient, 2..4 the weights of new cells, 5 the noise amplitude.
    d.unit = column == 1 ? "" : "potential";
    d.typical = column == 5 ? "0..10" : "0..1";
    d.usageColumn = column;
    d.usageRow = row;
    return d;
}

// The cell size: an integer edit whose change handler keeps it within 2..10.
ControlDefinition KeptWithin(ControlDefinition d, const char* range)
{
    d.range = range;
    d.rangeRule = RangeRule::KeptWithin;
    return d;
}

// Built on first use, so that other files' static objects may read the table.
const auto& Table()
{
    static const std::array table = {
        // Page "Setup"
        Edit("Edit_anzAg", K::IntegerEdit, P::Setup, "2400", ": number of max agents in system",
             "maximum number of agents; while there are fewer, every step adds agents, homes, services and industry",
             "agents", "0..10000", &S::Edit_anzAg),
        KeptWithin(Edit("Edit_size", K::IntegerEdit, P::Setup, "2", ": cell size -> number of cells ",
                        "cell size in pixels; takes effect at the next set-up", "pixels", "", &S::Edit_size,
                        &Edit_sizeChange),
                   "2..10"),
        Radio("rb_rulette", P::Setup, "0", "rulette wheel",
              "agents that follow return tracks choose their direction by roulette wheel", &S::rb_rulette, "rb_hill"),
        Radio("rb_hill", P::Setup, "1", "hill climbing",
              "agents that follow return tracks take the direction of the strongest track", &S::rb_hill, "rb_rulette"),
        Edit("E_crAgs", K::IntegerEdit, P::Setup, "3", ": population agents / residental cells",
             "new agents, each with a new home, per step", "agents per step", "0..10", &S::E_crAgs),
        Edit("E_crServ", K::IntegerEdit, P::Setup, "1", ": service recources", "new service cells per step",
             "cells per step", "0..10", &S::E_crServ, &Edit_sizeChange),
        Edit("E_crIndu", K::IntegerEdit, P::Setup, "1", ": industrial resources", "new industry cells per step",
             "cells per step", "0..10", &S::E_crIndu, &Edit_sizeChange),

        // Page "Settings"
        Number("TrB_thresh", K::ScrollBar, P::Settings, "22", "angle threshold :",
               "half-width in degrees of the cone in which agents sense tracks, and the largest random turn of a "
               "searching agent",
               "degrees", &S::TrB_thresh),
        Number("SB_wiggle", K::ScrollBar, P::Settings, "20", "wiggle threshold :",
               "largest random deviation in degrees added to a direction chosen by roulette wheel or hill climbing",
               "degrees", &S::SB_wiggle),
        Edit("E_decay", K::RealEdit, P::Settings, "0,99", "",
             "factor by which tracks shrink every step with path decay on", "factor per step", "0..1", &S::E_decay),
        Check("CB_decay", P::Settings, "0", ": path decay ", "on: tracks decay by the factor; off: they are rescaled",
              &S::CB_decay),
        Edit("E_CProbab", K::RealEdit, P::Settings, "0,1", ": consume Probab.",
             "probability that a searching agent consumes the destination, service or industry cell it enters",
             "probability", "0..1", &S::E_CProbab),
        Edit("E_migTh", K::IntegerEdit, P::Settings, "2", "",
             "other agents in the 3 x 3 block from which on an agent migrates", "agents", "0..8", &S::E_migTh),
        Check("CB_migrate", P::Settings, "0", ": migrat. thresh", "migration on or off", &S::CB_migrate),
        Edit("E_noise", K::RealEdit, P::Settings, "30", ": return noise",
             "largest random turn in degrees of a returning agent that goes the direct way or senses no track",
             "degrees", "0..180", &S::E_noise, &E_noiseChange),
        Radio("rb_direct", P::Settings, "0", "direct way", "returning agents head straight for home", &S::rb_direct,
              "rb_hillCl", &RadioGroup2Click),
        Radio("rb_hillCl", P::Settings, "1", "use existing tracks", "returning agents follow the return tracks",
              &S::rb_hillCl, "rb_direct", &RadioGroup2Click),

        // The usage table: a row per field, its diffusion coefficient, the weights a new
        // home, service or industry cell adds to it, and its noise amplitude.
        UsageCell("StringGrid1.1.1", 1, 1, "1", "populat. / diff. c.", "diffusion coefficient of the population field"),
        UsageCell("StringGrid1.2.1", 2, 1, "1,0", "populat. / w. pop.", "population potential a new home adds"),
        UsageCell("StringGrid1.3.1", 3, 1, "0,5", "populat. / w. serv.",
                  "population potential a new service cell adds"),
        UsageCell("StringGrid1.4.1", 4, 1, "0,0", "populat. / w. ind.",
                  "population potential a new industry cell adds"),
        UsageCell("StringGrid1.5.1", 5, 1, "6,0", "populat. / noise", "noise amplitude of the population field"),
        UsageCell("StringGrid1.1.2", 1, 2, "1", "service / diff. c.", "diffusion coefficient of the service field"),
        UsageCell("StringGrid1.2.2", 2, 2, "0,5", "service / w. pop.", "service potential a new home adds"),
        UsageCell("StringGrid1.3.2", 3, 2, "1,0", "service / w. serv.", "service potential a new service cell adds"),
        UsageCell("StringGrid1.4.2", 4, 2, "0", "service / w. ind.", "service potential a new industry cell adds"),
        UsageCell("StringGrid1.5.2", 5, 2, "5,0", "service / noise", "noise amplitude of the service field"),
        UsageCell("StringGrid1.1.3", 1, 3, "1", "industry / diff. c.", "diffusion coefficient of the industry field"),
        UsageCell("StringGrid1.2.3", 2, 3, "0,5", "industry / w. pop.", "industry potential a new home adds"),
        UsageCell("StringGrid1.3.3", 3, 3, "0", "industry / w. serv.", "industry potential a new service cell adds"),
        UsageCell("StringGrid1.4.3", 4, 3, "1,0", "industry / w. ind.", "industry potential a new industry cell adds"),
        UsageCell("StringGrid1.5.3", 5, 3, "4,8", "industry / noise", "noise amplitude of the industry field"),

        // Page "Graphic"
        Check("CB_noTracks", P::Graphic, "0", "all cells white", "the step's drawing leaves the cells white",
              &S::CB_noTracks, &CB_noTracksClick),
        Check("CB_showOrig", P::Graphic, "0", "show no tracks", "only non-empty cells are drawn, on white",
              &S::CB_showOrig, &CB_showABClick),
        Check("CB_showAB", P::Graphic, "1", "show only return tracks", "gray shows return tracks instead of all tracks",
              &S::CB_showAB, &CB_showABClick),
        Check("cb_noDesti", P::Graphic, "0", "show no destinations",
              "non-empty cells are drawn in gray like empty ones", &S::cb_noDesti, &CB_showABClick),
        Check("Cb_allBlack", P::Graphic, "0", "all destinations black",
              "destination cells white, homes, services and industry black", &S::Cb_allBlack, &Cb_allBlackClick),
        Check("CB_potField", P::Graphic, "0", "show potential field nr.",
              "gray shows a potential field instead of tracks", &S::CB_potField, &CB_showABClick),
        Number("CB_FieldNr", K::FieldChooser, P::Graphic, "0", "",
               "the potential field shown: 0 population, 1 service, 2 industry (items \"1\", \"2\", \"3\")", "",
               &S::CB_FieldNr, &CB_FieldNrChange),
        Check("CB_showAg", P::Graphic, "0", "show agents", "agents are drawn at every step", &S::CB_showAg),
        Check("CB_gravity", P::Graphic, "0", "show gravity linies   |   size:",
              "lines from busy destinations to the centre (disabled in the window)", &S::CB_gravity, &CB_gravityClick),
        Edit("E_grav", K::RealEdit, P::Graphic, "5", "", "width factor of the gravity lines (disabled in the window)",
             "", "1..10", &S::E_grav, &E_gravChange),

        // Frame "timesteps"
        Edit("E_stop", K::IntegerEdit, P::Timesteps, "800", "stop at time :",
             "the step count at which the run stops by itself; 0 or less never stops it", "steps", "1..10000",
             &S::E_stop, &E_stopChange),
    };
    return table;
}

bool ParseCheckState(const ControlDefinition& control, std::string_view value)
{
    if (value == "0") return false;
    if (value == "1") return true;
    throw ControlValueError(std::string(control.name) + " takes 0 or 1");
}

std::int32_t ParseNumber(const ControlDefinition& control, std::string_view value)
{
    const std::int32_t lowest = 0;
    const std::int32_t highest = control.kind == ControlKind::ScrollBar ? kScrollMaximum : 2;
    std::int32_t number = 0;
    if (!TryStrToInt(value, number) || number < lowest || number > highest)
        throw ControlValueError(std::string(control.name) + " takes " + control.range);
    return number;
}

const ControlDefinition* FindControlWithText(std::string S::*edit)
{
    for (const ControlDefinition& control : Table())
        if (control.text == edit) return &control;
    return nullptr;
}

const char* NameOf(std::string S::*edit)
{
    const ControlDefinition* control = FindControlWithText(edit);
    return control ? control->name : "";
}

}  // namespace

std::span<const ControlDefinition> ControlTable()
{
    return Table();
}

const ControlDefinition* FindControl(std::string_view name)
{
    for (const ControlDefinition& control : Table())
        if (name == control.name) return &control;
    return nullptr;
}

const ControlDefinition* FindUsageCell(int column, int row)
{
    for (const ControlDefinition& control : Table())
        if (control.kind == ControlKind::UsageCell && control.usageColumn == column && control.usageRow == row)
            return &control;
    return nullptr;
}

std::string RangeText(const ControlDefinition& control)
{
    std::string text;
    switch (control.rangeRule) {
    case RangeRule::None: break;
    case RangeRule::Refused: text = std::string("takes ") + control.range + " (others refused when set)"; break;
    case RangeRule::Converted:
        text = std::string("whole numbers ") + control.range + " (others refused when read)";
        break;
    case RangeRule::KeptWithin: text = std::string("kept within ") + control.range + " by its change handler"; break;
    }
    if (*control.typical) text += std::string(text.empty() ? "" : "; ") + "typically " + control.typical + " (not enforced)";
    return text;
}

const char* KindName(ControlKind kind)
{
    switch (kind) {
    case ControlKind::IntegerEdit:
        return "integer";
    case ControlKind::RealEdit:
        return "real";
    case ControlKind::CheckBox:
        return "check box";
    case ControlKind::RadioButton:
        return "radio button";
    case ControlKind::ScrollBar:
        return "scroll bar";
    case ControlKind::FieldChooser:
        return "field chooser";
    case ControlKind::UsageCell:
        return "usage cell";
    }
    return "";
}

namespace {

// The text with every control character written as \xNN, so that a message shows it
// whole (a NUL would end the message there).
std::string Printable(std::string_view text)
{
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            shown += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
    }
    return shown;
}

bool HoldsControlCharacter(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

// Edits (insert, delete, replace) from one name to another, letters compared
// without case: a misspelt control is a few edits from its name.
std::size_t EditDistance(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown control 'NAME'", with the nearest control names when some are within
// two edits (one for a short name).
std::string UnknownControl(std::string_view name)
{
    const std::size_t most = name.size() < 5 ? 1 : 2;
    std::vector<std::pair<std::size_t, std::string_view>> near;
    for (const ControlDefinition& control : ControlTable()) {
        const std::size_t distance = EditDistance(name, control.name);
        if (distance <= most) near.emplace_back(distance, control.name);
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::string message = "unknown control '" + Printable(name) + "'";
    for (std::size_t i = 0; i < near.size() && i < 3; ++i)
        message += (i == 0 ? "; did you mean '" : " or '") + std::string(near[i].second) + "'";
    return near.empty() ? message : message + "?";
}

}  // namespace

void CheckControlValue(std::string_view name, std::string_view value)
{
    // Control texts are read as C strings and params files line by line: a NUL
    // would cut a text short, a line break split a line.
    if (HoldsControlCharacter(name) || HoldsControlCharacter(value))
        throw ControlValueError("'" + Printable(name) + "=" + Printable(value) +
                                "' holds a control character, which no control takes");
    const ControlDefinition* control = FindControl(name);
    if (!control) throw ControlValueError(UnknownControl(name));
    ControlState scratch;
    WriteControl(scratch, *control, value);
}

const char* PageTitle(PanelPage page)
{
    switch (page) {
    case PanelPage::Setup: return "Setup";
    case PanelPage::Settings: return "Settings";
    case PanelPage::Graphic: return "Graphic";
    case PanelPage::Timesteps: return "timesteps";
    }
    return "";
}

std::string ControlValue(const ControlState& controls, const ControlDefinition& control)
{
    switch (control.kind) {
    case ControlKind::IntegerEdit:
    case ControlKind::RealEdit: return controls.*control.text;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: return controls.*control.checked ? "1" : "0";
    case ControlKind::ScrollBar:
    case ControlKind::FieldChooser: return std::to_string(controls.*control.number);
    case ControlKind::UsageCell: return controls.StringGrid1[control.usageColumn][control.usageRow];
    }
    return "";
}

void WriteControl(ControlState& controls, const ControlDefinition& control, std::string_view value)
{
    switch (control.kind) {
    case ControlKind::IntegerEdit:
    case ControlKind::RealEdit: controls.*control.text = std::string(value); return;
    case ControlKind::CheckBox: controls.*control.checked = ParseCheckState(control, value); return;
    case ControlKind::RadioButton: {
        // A radio button can only be switched on; switching it on switches its partner off.
        if (value != "1") throw ControlValueError(std::string(control.name) + " takes 1");
        controls.*control.checked = true;
        controls.*FindControl(control.partner)->checked = false;
        return;
    }
    case ControlKind::ScrollBar:
    case ControlKind::FieldChooser: controls.*control.number = ParseNumber(control, value); return;
    case ControlKind::UsageCell:
        controls.StringGrid1[control.usageColumn][control.usageRow] = std::string(value);
        return;
    }
}

void SetControl(Simulation& sim, const ControlDefinition& control, std::string_view value)
{
    WriteControl(sim.controls, control, value);
    if (control.onChange) control.onChange(sim);
}

void SetControl(Simulation& sim, std::string_view name, std::string_view value)
{
    const ControlDefinition* control = FindControl(name);
    if (!control) throw ControlValueError(UnknownControl(name));
    SetControl(sim, *control, value);
}

void SetControlText(Simulation& sim, const ControlDefinition& control, std::string text)
{
    if (control.kind == ControlKind::UsageCell)
        sim.controls.StringGrid1[control.usageColumn][control.usageRow] = std::move(text);
    else
        sim.controls.*control.text = std::move(text);
    if (control.onChange) control.onChange(sim);
}

void SetControlChecked(Simulation& sim, const ControlDefinition& control, bool checked)
{
    sim.controls.*control.checked = checked;
    if (control.kind == ControlKind::RadioButton && checked)
        sim.controls.*FindControl(control.partner)->checked = false;
    // A radio pair's handler runs for the button that is switched on.
    if (control.onChange && (checked || control.kind != ControlKind::RadioButton)) control.onChange(sim);
}

void SetControlNumber(Simulation& sim, const ControlDefinition& control, std::int32_t number)
{
    sim.controls.*control.number = number;
    if (control.onChange) control.onChange(sim);
}

std::int32_t ReadInteger(const ControlState& controls, std::string S::*edit)
{
    std::int32_t value = 0;
    if (!TryStrToInt(controls.*edit, value)) throw ConversionError(StrToIntMessage(controls.*edit), NameOf(edit));
    return value;
}

double ReadReal(const ControlState& controls, std::string S::*edit)
{
    double value = 0.0;
    if (!TryStrToFloat(controls.*edit, value)) throw ConversionError(StrToFloatMessage(controls.*edit), NameOf(edit));
    return value;
}
