// The chart's context menu: the chart, the plotted statistics and the world saved
// as files, written whole or not at all.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#if defined(__linux__)
#include <sys/mount.h>
#endif

#include "app/headless_runner.h"
#include "app/output_tables.h"
#include "sim/drawing/world_picture.h"
#include "sim/io/run_state.h"
#include "tests/ui/test_window.h"
#include "ui/chart_exports.h"

namespace {

// A window whose exports save to the paths given, in turn, and collect their failures.
struct ExportingWindow : TestWindow {
    ExportingWindow()
    {
        exports = form.findChild<ChartExports*>();
        if (!exports) qFatal("no chart exports");
        exports->SetPathAsker([this](const QString&, const QString& suggested, const QString&) {
            suggestions << suggested;
            return paths.isEmpty() ? QString() : paths.takeFirst();
        });
        exports->SetOpenPathAsker([this](const QString&, const QString&, const QString&) {
            return paths.isEmpty() ? QString() : paths.takeFirst();
        });
        exports->SetFailureSink([this](const QString& message) { failures << message; });
    }

    // What the runner prints with --agents --cells after the statistics of the last `steps` steps.
    std::string Tables(int steps)
    {
        std::ostringstream out;
        WriteStatisticsHeader(out, {});
        const std::vector<StepStatistics>& plotted = form.chart()->PlottedSteps();
        for (std::size_t i = plotted.size() - steps; i < plotted.size(); ++i) WriteStatisticsLine(out, "", plotted[i]);
        out << "\n";
        WriteAgents(out, form.simulation().run);
        out << "\n";
        WriteCells(out, form.simulation().run);
        return out.str();
    }

    void Steps(int count)
    {
        for (int i = 0; i < count; ++i) QTest::mouseClick(get<QPushButton>("B_oneStep"), Qt::LeftButton);
    }

    ChartExports* exports = nullptr;
    QStringList paths;
    QStringList suggestions;
    QStringList failures;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

constexpr qint64 kPage = 4096;

// A small file system of the test's own (a tmpfs), unmounted at the end; only
// where the test may mount one (Linux, as root or with the capability).
class SmallFileSystem {
public:
    SmallFileSystem()
    {
#if defined(__linux__)
        if (!dir_.isValid()) return;
        if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=256k,mode=0700") == 0)
            mounted_ = true;
        else
            reason_ = QString::fromLocal8Bit(std::strerror(errno));
#else
        reason_ = "tmpfs mounts are a Linux feature";
#endif
    }
    ~SmallFileSystem()
    {
#if defined(__linux__)
        if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
#endif
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    QString reason() const { return reason_; }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    QStringList entries() const
    {
        return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Grows a filler file until no byte more fits, then frees `room` bytes (whole pages).
    bool Fill(qint64 room) const
    {
        QFile filler(filePath("filler"));
        if (!filler.open(QIODevice::Append | QIODevice::Unbuffered)) return false;
        const QByteArray page(kPage, 'x');
        while (filler.write(page) == page.size()) {
        }
        return filler.write("x", 1) != 1 && filler.resize(filler.size() / kPage * kPage - room);
    }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString reason_;
};

using Action = bool (ChartExports::*)();
const Action kActions[] = {&ChartExports::SaveChartPicture, &ChartExports::SaveStatisticsCsv,
                           &ChartExports::SaveWorldPicture};

}  // namespace

class ChartExportsTest : public QObject {
    Q_OBJECT
private slots:
    void rightButtonOnTheChartOffersTheExports()
    {
        ExportingWindow w;
        QWidget* viewport = w.form.chart()->viewport();
        QContextMenuEvent onChart(QContextMenuEvent::Mouse, QPoint(50, 50), viewport->mapToGlobal(QPoint(50, 50)));
        QApplication::sendEvent(viewport, &onChart);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QStringList texts;
        for (QAction* action : menu->actions()) texts << action->text();
        QCOMPARE(texts, QStringList({"Save chart as picture...", "Save statistics as CSV...", "Save world picture...",
                                     "Save run state...", "Open run state...", "Copy run as command line"}));
        menu->close();

        // The drawing panel's right button is mouse editing: it opens no menu.
        QWidget* panel = w.form.zeichenPanel();
        QContextMenuEvent onPanel(QContextMenuEvent::Mouse, QPoint(50, 50), panel->mapToGlobal(QPoint(50, 50)));
        QApplication::sendEvent(panel, &onPanel);
        QVERIFY(!QApplication::activePopupWidget());
    }

    void copiedCommandLineSetsUpTheRunAndNamesHandEdits()
    {
        ExportingWindow w;
        w.get<QLineEdit>("E_CProbab")->setText("0,3");
        w.Steps(2);
        w.exports->CopyRunCommandLine();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("landuse-headless --steps 2 --set E_CProbab=0,3\n"));
        QTest::mousePress(w.form.zeichenPanel(), Qt::RightButton, {}, QPoint(40, 40));
        QTest::mouseMove(w.form.zeichenPanel(), QPoint(42, 40));
        QTest::mouseRelease(w.form.zeichenPanel(), Qt::RightButton, {}, QPoint(42, 40));
        w.exports->CopyRunCommandLine();
        QVERIFY(QGuiApplication::clipboard()->text().contains("edited with the mouse"));
    }

    // The same lines as the headless runner prints for the same run, and only the
    // steps plotted since the last set-up.
    void statisticsAreSavedAsTheHeadlessRunnerPrintsThem()
    {
        QTemporaryDir dir;
        ExportingWindow w;
        w.Steps(6);
        const QString path = dir.filePath("run.csv");
        w.paths << path;
        QMenu menu;
        w.exports->AddActions(menu);
        menu.actions().at(1)->trigger();
        QVERIFY(w.failures.isEmpty());

        std::ostringstream out, err;
        QCOMPARE(RunHeadless({"--steps", "6"}, out, err), 0);
        QCOMPARE(ReadAll(path), QByteArray::fromStdString(out.str()));

        QTest::mouseClick(w.get<QPushButton>("B_setup"), Qt::LeftButton);
        w.Steps(2);
        w.paths << path;  // replaces the earlier file
        QVERIFY(w.exports->SaveStatisticsCsv());
        const QList<QByteArray> lines = ReadAll(path).split('\n');
        QCOMPARE(lines.size(), 4);  // header, two steps, and the end of the last line
        QCOMPARE(lines[0], QByteArray("step,agents,successful,avg_travel,max_mark,migrated,returning,empty,obstacles,residential,destinations,services,industry"));
        QVERIFY(lines[1].startsWith("1,"));
        QVERIFY(lines[2].startsWith("2,"));
        QCOMPARE(w.suggestions.size(), 2);
        QVERIFY(w.suggestions[1].startsWith(dir.path()));  // the next dialog starts where the last file went
    }

    // A run saved by the window, edited with the mouse, goes on alike in the window
    // itself, in the runner and in another window that opens it; a file that is no
    // run state changes nothing.
    void aSavedRunGoesOnAlikeInTheWindowAndTheRunner()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.lus");
        ExportingWindow w;
        w.get<QLineEdit>("E_CProbab")->setText("0,3");
        w.get<QCheckBox>("CB_showAg")->setChecked(true);
        w.Steps(20);
        QTest::mousePress(w.form.zeichenPanel(), Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(w.form.zeichenPanel(), QPoint(104, 100));
        QTest::mouseRelease(w.form.zeichenPanel(), Qt::LeftButton, {}, QPoint(104, 100));
        w.Steps(5);
        w.paths << path;
        QVERIFY(w.exports->SaveRunState());
        w.Steps(15);
        const std::string inTheWindow = w.Tables(15);

        std::ostringstream out, err;
        QCOMPARE(RunHeadless({"--load-state", path.toStdString(), "--steps", "15", "--agents", "--cells"}, out, err), 0);
        QCOMPARE(out.str(), inTheWindow);

        ExportingWindow other;
        other.paths << path;
        QVERIFY(other.exports->OpenRunState());
        QCOMPARE(other.get<QLabel>("lbl_Steps")->text(), QString("25"));
        QCOMPARE(other.get<QLineEdit>("E_CProbab")->text(), QString("0,3"));
        QVERIFY(other.get<QCheckBox>("CB_showAg")->isChecked());
        QCOMPARE(other.form.chart()->PlottedSteps().size(), std::size_t{25});
        other.Steps(15);
        QCOMPARE(other.Tables(15), inTheWindow);
        QCOMPARE(other.form.chart()->PlottedSteps(), w.form.chart()->PlottedSteps());
        // The opened run draws what the whole run draws.
        QVERIFY(other.form.layers().CellLayer() == w.form.layers().CellLayer());

        // A runner's state saved without pictures holds no drawing: the window draws
        // every cell afresh from its values, tracks included, and records from there.
        const QString unrecorded = dir.filePath("unrecorded.lus");
        QCOMPARE(RunHeadless({"--steps", "12", "--set", "CB_showAB=0", "--stats", "/dev/null", "--save-state",
                             unrecorded.toStdString()},
                            out, err),
                 0);
        ExportingWindow third;
        third.paths << unrecorded;
        QVERIFY(third.exports->OpenRunState());
        QVERIFY(third.form.simulation().run.drawingRecorded);
        std::vector<Pixel> painted(static_cast<std::size_t>(kPictureSide) * kPictureSide);
        PaintCellLayer(PixelView(painted.data(), kPictureSide, kPictureSide, kPictureSide), third.form.simulation());
        const QImage& shown = third.form.layers().CellLayer();
        int grays = 0, differ = 0;
        for (int y = 0; y < kPictureSide; ++y) {
            for (int x = 0; x < kPictureSide; ++x) {
                const Pixel p = painted[static_cast<std::size_t>(y) * kPictureSide + x];
                differ += p != static_cast<Pixel>(shown.pixel(x, y));
                grays += colors::RedOf(p) == colors::GreenOf(p) && colors::GreenOf(p) == colors::BlueOf(p) &&
                         colors::RedOf(p) != 0 && colors::RedOf(p) != 255;
            }
        }
        QCOMPARE(differ, 0);
        QVERIFY(grays > 0);

        // A cut file: the message says why, and the run, the timer and the panel stay.
        QFile cut(dir.filePath("cut.lus"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(ReadAll(path).left(1000));
        cut.close();
        const std::string before = EncodeRunState(other.form.simulation(), {});
        other.form.timer()->start(1000000);  // running, though no tick comes during the test
        other.paths << cut.fileName();
        QVERIFY(!other.exports->OpenRunState());
        QCOMPARE(other.failures.size(), 1);
        QVERIFY(other.failures[0].contains("Could not open") && other.failures[0].contains("ends early"));
        QVERIFY(other.form.timer()->isActive());
        QCOMPARE(EncodeRunState(other.form.simulation(), {}), before);
        other.form.timer()->stop();
    }

    void picturesShowTheChartAndBothLayersOfTheWorld()
    {
        QTemporaryDir dir;
        ExportingWindow w;
        w.get<QCheckBox>("CB_showAg")->setChecked(true);
        w.Steps(5);
        w.paths << dir.filePath("chart.png") << dir.filePath("world.png");
        QVERIFY(w.exports->SaveChartPicture());
        QVERIFY(w.exports->SaveWorldPicture());
        QVERIFY(w.failures.isEmpty());
        QVERIFY(w.suggestions[1].endsWith("landuse-world-step-5.png"));

        const QImage chart(dir.filePath("chart.png"));
        QCOMPARE(chart.size(), w.form.chart()->size());

        const QImage world = QImage(dir.filePath("world.png")).convertToFormat(QImage::Format_RGB32);
        const QImage& cells = w.form.layers().CellLayer();
        const QImage& agents = w.form.layers().AgentLayer();
        QCOMPARE(world.size(), cells.size());
        int agentPixels = 0;
        for (int y = 0; y < world.height(); ++y) {
            for (int x = 0; x < world.width(); ++x) {
                const QRgb above = agents.pixel(x, y);
                const bool agent = above != colors::kWhite;
                agentPixels += agent;
                if ((world.pixel(x, y) | 0xff000000) != ((agent ? above : cells.pixel(x, y)) | 0xff000000))
                    QFAIL(qPrintable(QString("pixel %1,%2").arg(x).arg(y)));
            }
        }
        QVERIFY(agentPixels > 0);
    }

    void aPathThatCannotBeWrittenLeavesNoFile()
    {
        QTemporaryDir dir;
        ExportingWindow w;
        w.Steps(2);
        // Permission bits do not stop root; a regular file as the parent, or a
        // directory as the target, stops anyone.
        const QString regularFile = dir.filePath("not-a-directory");
        {
            QFile file(regularFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep");
        }
        QVERIFY(QDir(dir.path()).mkdir("taken"));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (Action action : kActions) {
            for (const QString& path : {regularFile + "/out.file", dir.filePath("taken")}) {
                w.paths << path;
                QVERIFY(!(w.exports->*action)());
                QCOMPARE(w.failures.size(), 1);
                QVERIFY2(w.failures[0].startsWith(QString("Could not save \"%1\": ").arg(path)),
                         qPrintable(w.failures[0]));
                QVERIFY(w.failures[0].size() > QString("Could not save \"%1\": ").arg(path).size());
                w.failures.clear();
                QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                         before);
                QVERIFY(QDir(dir.filePath("taken")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
            }
        }
        QCOMPARE(ReadAll(regularFile), QByteArray("keep"));

        // A cancelled dialog writes nothing and shows nothing.
        for (Action action : kActions) QVERIFY(!(w.exports->*action)());
        QVERIFY(w.failures.isEmpty());
    }

    // On a disk too full for the file, with room for nothing, for one page or for
    // all but the last page, every save fails with the system's reason and leaves
    // the file it would have replaced as it was, with nothing beside it.
    void aFullDiskKeepsTheOldFileAndSaysWhy()
    {
        SmallFileSystem disk;
        if (!disk.mounted())
            QSKIP(qPrintable("cannot mount a small tmpfs (" + disk.reason() + "); run as root to test a full disk"));
        QTemporaryDir roomy;
        ExportingWindow w;
        w.Steps(3);
        const QStringList names = {"chart.png", "run.csv", "world.png"};
        QStringList entries = names;
        entries << "filler";
        entries.sort();
        for (const QString& name : names) {
            QFile old(disk.filePath(name));
            QVERIFY(old.open(QIODevice::WriteOnly));
            QCOMPARE(old.write("old"), qint64(3));
        }
        const QString reason = QString::fromLocal8Bit(std::strerror(ENOSPC));
        for (int i = 0; i < names.size(); ++i) {
            w.paths << roomy.filePath(names[i]);
            QVERIFY((w.exports->*kActions[i])());
            const qint64 size = QFileInfo(roomy.filePath(names[i])).size();
            for (const qint64 room : {qint64(0), kPage, (size - 1) / kPage * kPage}) {
                if (room >= size) continue;
                QVERIFY(disk.Fill(room));
                const QString path = disk.filePath(names[i]);
                w.paths << path;
                const QByteArray label = names[i].toUtf8() + ", room " + QByteArray::number(room);
                QVERIFY2(!(w.exports->*kActions[i])(), label);
                QCOMPARE(w.failures, QStringList(QString("Could not save \"%1\": %2").arg(path, reason)));
                w.failures.clear();
                QVERIFY2(ReadAll(path) == "old", label);
                QCOMPARE(disk.entries(), entries);
            }
        }
    }

    // The window's saves follow the runner's rule for names (files/atomic_file.h):
    // a link is written through and stays a link, where it dangles too; a device
    // is written into; and a write that fails, on a full device named directly or
    // through a link, fails the save with the system's reason.
    void savesFollowTheRunnersRuleForNames()
    {
        QTemporaryDir dir;
        const std::filesystem::path folder = dir.path().toStdString();
        std::filesystem::create_directory(folder / "sub");
        QFile old(dir.filePath("real.csv"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        std::filesystem::create_symlink("real.csv", folder / "to-real");
        std::filesystem::create_symlink("sub/made.csv", folder / "dangling");
        std::filesystem::create_symlink("/dev/full", folder / "to-full");
        std::filesystem::create_symlink("/dev/null", folder / "to-null");
        const QString full = QString::fromLocal8Bit(std::strerror(ENOSPC));
        const struct {
            QString path;
            QString error;
            QString written;  // the file that must hold the new content
        } cases[] = {
            {dir.filePath("to-real"), "", dir.filePath("real.csv")},
            {dir.filePath("dangling"), "", dir.filePath("sub/made.csv")},
            {dir.filePath("to-null"), "", ""},
            {"/dev/full", full, ""},
            {dir.filePath("to-full"), full, ""},
        };
        for (const auto& c : cases) {
            const QString error =
                WriteFileAtomically(c.path, [](QIODevice& file) { file.write("new"); return QString(); });
            QCOMPARE(error, c.error);
            if (!c.written.isEmpty()) QCOMPARE(ReadAll(c.written), QByteArray("new"));
        }
        for (const char* link : {"to-real", "dangling", "to-full", "to-null"})
            QVERIFY2(std::filesystem::is_symlink(folder / link), link);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"dangling", "real.csv", "sub", "to-full", "to-null", "to-real"}));
    }

    void aFailedWriteKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kept.txt");
        QCOMPARE(WriteFileAtomically(path, [](QIODevice& file) { file.write("old"); return QString(); }), QString());
        const QString error = WriteFileAtomically(path, [](QIODevice& file) {
            file.write("half of the new");
            return QString("stopped half way");
        });
        QCOMPARE(error, QString("stopped half way"));
        QCOMPARE(ReadAll(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"kept.txt"});
    }
};

QTEST_MAIN(ChartExportsTest)
#include "chart_exports_test.moc"
