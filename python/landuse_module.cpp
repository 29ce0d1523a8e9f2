// The model as a Python extension: the same sim library the window and the
// headless runner drive, set through the same table of controls. The Python
// package (python/landuse) wraps this module into its public API.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "png/png_encoding.h"
#include "sim/controls/control_handlers.h"
#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/core/program_start.h"
#include "sim/core/random_streams.h"
#include "sim/core/run_limits.h"
#include "sim/core/setup.h"
#include "sim/core/simulation.h"
#include "sim/core/statistics.h"
#include "sim/core/statistics_columns.h"
#include "sim/core/time_step.h"
#include "sim/core/version.h"
#include "sim/drawing/world_picture.h"
#include "sim/io/run_state.h"
#include "sim/patterns/land_patterns.h"
#include "sim/phases/growth.h"

namespace py = pybind11;

namespace {

// Keeps every step's statistics of the current run, as the runner prints them.
class StatisticsRecorder : public RunEvents {
public:
    void RunStarted() override { steps.clear(); }
    void StepDone(const StepStatistics& statistics) override { steps.push_back(statistics); }

    std::vector<StepStatistics> steps;
};

template <typename T, typename Record, typename Field>
py::array_t<T> Column(const std::vector<Record>& records, Field field)
{
    py::array_t<T> column(static_cast<py::ssize_t>(records.size()));
    T* out = column.mutable_data();
    for (const Record& record : records) *out++ = static_cast<T>(field(record));
    return column;
}

// A column's values as Python takes them: whole numbers as int64, reals as float64.
template <typename T>
using PythonColumnValue = std::conditional_t<std::is_same_v<T, double>, double, std::int64_t>;

// Holds a run's mutex for one call from Python. The mutex is awaited without the
// interpreter's lock, so a thread that holds the mutex and waits for the lock (a
// step ending) never waits on a thread that holds the lock and waits for the mutex.
class CallLock {
public:
    explicit CallLock(std::mutex& mutex) : mutex_(mutex)
    {
        py::gil_scoped_release release;
        mutex_.lock();
    }
    ~CallLock() { mutex_.unlock(); }
    CallLock(const CallLock&) = delete;
    CallLock& operator=(const CallLock&) = delete;

private:
    std::mutex& mutex_;
};

// One program, started as the headless runner starts it. Calls on one run from
// several Python threads take turns: each holds the run's mutex, a step for one step.
class ModelRun {
public:
    // With `pictures`, the cells' drawing is recorded from the set-up on, as the
    // window records it, so that pictures show the tracks.
    ModelRun(std::uint32_t seed, const std::vector<std::pair<std::string, std::string>>& controls, bool pictures)
        : sim_(nullptr, &recorder_), drawing_(sim_), seed_(seed)
    {
        if (pictures) sim_.SetScreen(&drawing_);
        sim_.random.seed = seed;
        std::vector<ControlSetting> settings;
        for (const auto& [name, text] : controls) settings.push_back({name, text});
        StartProgram(sim_, settings);
    }

    // A run continued from a saved state: its statistics so far come with it. It
    // records its drawing when asked, or, unasked, when the state was recording.
    // A state without a drawing record starts one with every cell drawn afresh.
    ModelRun(const py::bytes& state, std::optional<bool> pictures) : sim_(nullptr, &recorder_), drawing_(sim_)
    {
        const std::string_view bytes = state;
        recorder_.steps = DecodeRunState(sim_, bytes);
        seed_ = sim_.run.startSeed;
        if (pictures.value_or(sim_.run.drawingRecorded)) {
            sim_.SetScreen(&drawing_);
            StartDrawingRecord(sim_);
        }
    }

    // Whether the run records its drawing (and so its pictures show the tracks).
    bool Recording()
    {
        CallLock lock(mutex_);
        return sim_.screen().PaintsCells();
    }

    // The run's whole state with its statistics, as a state file holds it.
    py::bytes State() const
    {
        std::string bytes;
        {
            CallLock lock(mutex_);
            bytes = EncodeRunState(sim_, recorder_.steps);
        }
        return py::bytes(bytes);
    }

    void Set(const std::string& name, const std::string& text)
    {
        CallLock lock(mutex_);
        SetControl(sim_, *Find(name), text);
    }
    // Workers of the diffusion, kFewestWorkers..kMostWorkers. Every count gives the same run.
    void SetThreads(int count)
    {
        if (count < kFewestWorkers || count > kMostWorkers)
            throw ControlValueError("threads takes " + std::to_string(kFewestWorkers) + ".." +
                                    std::to_string(kMostWorkers));
        CallLock lock(mutex_);
        sim_.SetWorkerCount(count);
    }

    // The steps run without the interpreter's lock; Ctrl+C is looked at between steps.
    void Step(std::int64_t count)
    {
        for (std::int64_t i = 0; i < count; ++i) {
            {
                py::gil_scoped_release release;
                std::lock_guard<std::mutex> lock(mutex_);
                if (sim_.run.stepCount == kLargestStep)
                    throw std::overflow_error("the step count is at its largest, " + std::to_string(kLargestStep));
                TimeStep(sim_);
            }
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    }

    std::int32_t StepCount() const
    {
        CallLock lock(mutex_);
        return sim_.run.stepCount;
    }
    std::int32_t StopTime() const
    {
        CallLock lock(mutex_);
        return sim_.run.stopTime;
    }
    std::uint32_t Seed() const { return seed_; }
    std::uint64_t Draws() const
    {
        CallLock lock(mutex_);
        return DrawsSoFar(sim_);
    }

    py::dict Statistics() const
    {
        CallLock lock(mutex_);
        const auto& steps = recorder_.steps;
        const auto count = static_cast<py::ssize_t>(steps.size());
        // One array per column, in the columns' order; each row is walked once.
        py::dict table;
        std::array<std::int64_t*, kStatisticsColumns.size()> integers{};
        std::array<double*, kStatisticsColumns.size()> reals{};
        for (std::size_t c = 0; c < kStatisticsColumns.size(); ++c) {
            const StatisticsColumn& column = kStatisticsColumns[c];
            const py::str name(column.name.data(), column.name.size());
            if (column.type == ColumnType::Integer) {
                py::array_t<std::int64_t> values(count);
                integers[c] = values.mutable_data();
                table[name] = values;
            } else {
                py::array_t<double> values(count);
                reals[c] = values.mutable_data();
                table[name] = values;
            }
        }
        for (py::ssize_t row = 0; row < count; ++row) {
            VisitStatisticsColumns(steps[row], [&](const StatisticsColumn& column, const auto& value) {
                const auto c = static_cast<std::size_t>(&column - kStatisticsColumns.data());
                if constexpr (std::is_same_v<PythonColumnValue<std::remove_cvref_t<decltype(value)>>, double>)
                    reals[c][row] = value;
                else
                    integers[c][row] = value;
            });
        }
        return table;
    }

    // The statistics of the last step as {column: value}; None before the first step.
    py::object LastStatistics() const
    {
        CallLock lock(mutex_);
        if (recorder_.steps.empty()) return py::none();
        py::dict row;
        VisitStatisticsColumns(recorder_.steps.back(), [&](const StatisticsColumn& column, const auto& value) {
            row[py::str(column.name.data(), column.name.size())] =
                py::cast(static_cast<PythonColumnValue<std::remove_cvref_t<decltype(value)>>>(value));
        });
        return row;
    }

    py::dict Agents() const
    {
        CallLock lock(mutex_);
        const auto& a = sim_.run.agents;
        py::dict columns;
        columns["column"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.column; });
        columns["row"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.row; });
        columns["home_column"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.homeColumn; });
        columns["home_row"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.homeRow; });
        columns["mode"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.mode; });
        columns["heading"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.heading; });
        columns["travel_steps"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.travelSteps; });
        columns["success"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.success; });
        columns["migrated"] = Column<std::int32_t>(a, [](const TAgent& x) { return x.migrated; });
        return columns;
    }

    // Every cell value as a [row, column] grid.
    // The pattern measures of the run as it stands, by name in column order.
    py::dict Patterns(double trackThreshold) const
    {
        PatternValues values;
        {
            CallLock lock(mutex_);
            values = MeasurePatterns(sim_.run, PatternSettings{trackThreshold});
        }
        py::dict measures;
        for (std::size_t i = 0; i < kPatternMeasureCount; ++i) measures[PatternMeasures()[i].name] = values[i];
        return measures;
    }

    // The arrivals at each destination so far, in list order.
    std::vector<std::int32_t> Arrivals() const
    {
        CallLock lock(mutex_);
        std::vector<std::int32_t> arrivals;
        for (const Destination& d : sim_.run.destinations) arrivals.push_back(d.arrivals);
        return arrivals;
    }

    py::dict Cells() const
    {
        CallLock lock(mutex_);
        const Run& run = sim_.run;
        const py::ssize_t rows = run.rows, columns = run.columns;
        py::array_t<std::int32_t> kind({rows, columns}), agents({rows, columns});
        py::array_t<double> allTracks({rows, columns}), returnTracks({rows, columns});
        py::array_t<double> population({rows, columns}), service({rows, columns}), industry({rows, columns});
        auto k = kind.mutable_unchecked<2>();
        auto n = agents.mutable_unchecked<2>();
        auto at = allTracks.mutable_unchecked<2>();
        auto rt = returnTracks.mutable_unchecked<2>();
        auto p = population.mutable_unchecked<2>();
        auto s = service.mutable_unchecked<2>();
        auto i = industry.mutable_unchecked<2>();
        for (std::int32_t r = 0; r < run.rows; ++r) {
            for (std::int32_t c = 0; c < run.columns; ++c) {
                const TCell& cell = run.cells(c, r);
                k(r, c) = cell.kind;
                n(r, c) = cell.agentCount;
                at(r, c) = cell.allTracks;
                rt(r, c) = cell.returnTracks;
                p(r, c) = run.cells.Potential(c, r, kPopulationField);
                s(r, c) = run.cells.Potential(c, r, kServiceField);
                i(r, c) = run.cells.Potential(c, r, kIndustryField);
            }
        }
        py::dict grids;
        grids["kind"] = kind;
        grids["all_tracks"] = allTracks;
        grids["return_tracks"] = returnTracks;
        grids["population"] = population;
        grids["service"] = service;
        grids["industry"] = industry;
        grids["agents"] = agents;
        return grids;
    }

    // The drawing panel as RGB, indexed [row, column, channel].
    py::array_t<std::uint8_t> Picture() const
    {
        std::vector<std::uint8_t> rgb;
        {
            CallLock lock(mutex_);
            rgb = WorldPictureRgb(sim_);
        }
        py::array_t<std::uint8_t> picture({py::ssize_t{kPictureSide}, py::ssize_t{kPictureSide}, py::ssize_t{3}});
        std::copy(rgb.begin(), rgb.end(), picture.mutable_data());
        return picture;
    }

    py::bytes PicturePng() const
    {
        std::vector<Pixel> pixels;
        {
            CallLock lock(mutex_);
            pixels = WorldPixels(sim_);
        }
        const std::vector<std::uint8_t> png = EncodePng(pixels, kPictureSide, kPictureSide);
        return py::bytes(reinterpret_cast<const char*>(png.data()), png.size());
    }

    py::dict Controls() const
    {
        CallLock lock(mutex_);
        py::dict values;
        for (const ControlDefinition& control : ControlTable()) values[control.name] = ControlValue(sim_.controls, control);
        return values;
    }

private:
    static const ControlDefinition* Find(const std::string& name)
    {
        const ControlDefinition* control = FindControl(name);
        if (!control) throw ControlValueError("unknown control '" + name + "'");
        return control;
    }

    StatisticsRecorder recorder_;  // before the simulation, which holds a pointer to it
    Simulation sim_;
    DrawingRecorder drawing_;  // the simulation's screen when pictures are asked for
    std::uint32_t seed_ = 0;
    mutable std::mutex mutex_;
};

const char* RangeRuleName(RangeRule rule)
{
    switch (rule) {
    case RangeRule::None: return "";
    case RangeRule::Refused: return "refused";
    case RangeRule::Converted: return "converted";
    case RangeRule::KeptWithin: return "kept within";
    }
    return "";
}

py::list DescribeControls()
{
    py::list rows;
    for (const ControlDefinition& control : ControlTable()) {
        py::dict row;
        row["name"] = control.name;
        row["kind"] = KindName(control.kind);
        row["page"] = PageTitle(control.page);
        row["default"] = control.defaultValue;
        row["caption"] = control.caption;
        row["meaning"] = control.meaning;
        row["range"] = control.range;
        row["range_rule"] = RangeRuleName(control.rangeRule);
        row["unit"] = control.unit;
        row["typical"] = control.typical;
        row["range_text"] = RangeText(control);
        row["partner"] = control.partner ? py::object(py::str(control.partner)) : py::object(py::none());
        rows.append(row);
    }
    return rows;
}

}  // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "The land-use model's simulation library; use it through the landuse package.";
    m.attr("__version__") = LandUseVersion();

    // The base of every error the package raises on purpose; the package's own
    // Python errors derive from it too.
    static py::exception<void> landuseError(m, "LanduseError", PyExc_Exception);
    landuseError.doc() = "The base of every error the landuse package raises on purpose.";
    // The model's errors are ValueErrors and LanduseErrors both.
    py::tuple valueBases = py::make_tuple(py::handle(PyExc_ValueError), landuseError);
    // A text that does not convert: a ValueError whose message names the control
    // that held the text, then gives the system's own message; the control's name
    // is its attribute control too.
    static py::exception<ConversionError> conversionError(m, "ConversionError", valueBases);
    // A value the control cannot hold, or an unknown control.
    static py::exception<ControlValueError> controlValueError(m, "ControlValueError", valueBases);
    // A run state that cannot be continued: not a state, damaged, another format version.
    static py::exception<RunStateError> runStateError(m, "RunStateError", valueBases);
    // A number of steps that cannot run, or none where the stop time gives none.
    static py::exception<StepCountError> stepCountError(m, "StepCountError", valueBases);
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const ConversionError& e) {
            const std::string message = e.control().empty() ? e.what() : e.control() + ": " + e.what();
            py::object error = py::reinterpret_borrow<py::object>(conversionError.ptr())(message);
            error.attr("control") = e.control();
            error.attr("reason") = std::string(e.what());
            PyErr_SetObject(conversionError.ptr(), error.ptr());
        } catch (const ControlValueError& e) {
            controlValueError(e.what());
        } catch (const RunStateError& e) {
            runStateError(e.what());
        } catch (const StepCountError& e) {
            stepCountError(e.what());
        } catch (const GrowthError& e) {
            // A batch of new agents too large for the machine's memory is refused.
            PyErr_SetString(PyExc_MemoryError, e.what());
        }
    });

    py::class_<ModelRun>(m, "ModelRun")
        .def(py::init<std::uint32_t, const std::vector<std::pair<std::string, std::string>>&, bool>(),
             py::arg("seed"), py::arg("controls"), py::arg("pictures") = false)
        .def(py::init<const py::bytes&, std::optional<bool>>(), py::arg("state"), py::arg("pictures") = py::none())
        .def("state", &ModelRun::State)
        .def("recording", &ModelRun::Recording)
        .def("set", &ModelRun::Set, py::arg("name"), py::arg("text"))
        .def("set_threads", &ModelRun::SetThreads, py::arg("count"))
        .def("step", &ModelRun::Step, py::arg("count"))
        .def_property_readonly("step_count", &ModelRun::StepCount)
        .def_property_readonly("stop_time", &ModelRun::StopTime)
        .def_property_readonly("seed", &ModelRun::Seed)
        .def_property_readonly("draws", &ModelRun::Draws)
        .def("statistics", &ModelRun::Statistics)
        .def("last_statistics", &ModelRun::LastStatistics)
        .def("agents", &ModelRun::Agents)
        .def("cells", &ModelRun::Cells)
        .def("patterns", &ModelRun::Patterns, py::arg("track_threshold"))
        .def("arrivals", &ModelRun::Arrivals)
        .def("controls", &ModelRun::Controls)
        .def("picture", &ModelRun::Picture)
        .def("picture_png", &ModelRun::PicturePng);

    m.def("replicate_seed", &ReplicateSeed, py::arg("replicate"),
          "The generator's starting seed for replicate K (0 for replicate 0).");
    m.def("draws_between", &DrawsBetween, py::arg("start"), py::arg("end"),
          "How many draws lead from generator state start to state end (0 .. 2**32 - 1).");
    m.def("streams_overlap", &StreamsOverlap, py::arg("start_a"), py::arg("draws_a"), py::arg("start_b"),
          py::arg("draws_b"),
          "Whether two runs that drew draws_a numbers from start_a and draws_b from start_b shared a number.");
    m.def("control_table", &DescribeControls,
          "Every control: name, kind, page, default, caption, meaning, range, partner (radio buttons).");
    m.def("check_control_value", &CheckControlValue, py::arg("name"), py::arg("text"),
          "Raises ControlValueError for an unknown control or a value it cannot hold; changes nothing.");
    // The statistics columns in order: (name, type, unit, meaning), type "integer" or "real".
    py::list statisticsColumns;
    for (const StatisticsColumn& column : kStatisticsColumns)
        statisticsColumns.append(py::make_tuple(std::string(column.name), std::string(ColumnTypeName(column.type)),
                                                std::string(column.unit), std::string(column.meaning)));
    m.attr("statistics_columns") = py::tuple(statisticsColumns);
    m.attr("max_state_file_bytes") = kMaxRunStateBytes;
    m.attr("largest_step") = kLargestStep;
    m.attr("largest_seed") = kLargestSeed;
    m.attr("fewest_threads") = kFewestWorkers;
    m.attr("most_threads") = kMostWorkers;
    m.def(
        "decide_steps",
        [](std::optional<std::int64_t> requested, std::int32_t stepCount, std::int32_t stopTime) {
            const StepDecision decided = DecideSteps(requested, stepCount, stopTime);
            return py::make_tuple(decided.steps, decided.whyNone);
        },
        py::arg("requested"), py::arg("step_count"), py::arg("stop_time"),
        "(steps, why_none): the steps a run takes from step_count, requested or (None) those left to the stop "
        "time, as the headless runner decides them; why_none says why a run at or past its stop time runs none.");
    m.attr("default_track_threshold") = PatternSettings{}.trackThreshold;
    py::list patternMeasures;
    for (const PatternMeasure& measure : PatternMeasures())
        patternMeasures.append(py::make_tuple(measure.name, measure.unit, measure.meaning));
    m.attr("pattern_measures") = py::tuple(patternMeasures);
}
