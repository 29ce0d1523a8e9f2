#include "ui/chart_exports.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <exception>

#include "files/atomic_file.h"
#include "sim/controls/run_command_line.h"
#include "sim/io/run_state.h"
#include "sim/io/statistics_csv.h"
#include "ui/CellForm.h"
#include "ui/drawing_panel.h"
#include "ui/statistics_chart.h"

namespace {

const QString kPngFilter = QStringLiteral("PNG pictures (*.png)");
const QString kCsvFilter = QStringLiteral("CSV files (*.csv)");
const QString kStateFilter = QStringLiteral("Run states (*.lus)");
// Far above any run's state.
constexpr qint64 kMaxStateBytes = qint64{1} << 30;

QString WriteImage(const QImage& image, QIODevice& file)
{
    if (image.isNull()) return QStringLiteral("there is nothing to draw");
    if (image.save(&file, "PNG")) return {};
    return QStringLiteral("the picture could not be encoded");
}

// Writes every byte, writing the rest again after a short write: Qt reports a
// write that stopped part way (the disk filled up) without a reason, and only
// the next write gives the system's.
QString WriteAll(QIODevice& file, const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) return file.errorString();
        done += written;
    }
    return {};
}

}  // namespace

QString WriteFileAtomically(const QString& path, const std::function<QString(QIODevice& file)>& write)
{
    // The content is made in memory first, so that a failure of the writer is
    // told apart from one on disk, and no file is touched for a writer that fails.
    QByteArray content;
    {
        QBuffer buffer(&content);
        buffer.open(QIODevice::WriteOnly);
        if (const QString error = write(buffer); !error.isEmpty()) return error;
    }
    // The same writer as the runner's: the write, the sync and the close are each
    // checked at the commit, and only then is the file renamed into place.
    try {
        AtomicFile file(QFile::encodeName(path).toStdString());
        file.Write(content.constData(), static_cast<std::size_t>(content.size()));
        file.Commit();
    } catch (const FileWriteError& error) {
        return QString::fromLocal8Bit(error.reason());
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    }
    return {};
}

ChartExports::ChartExports(TForm1& form) : QObject(&form), form_(form), lastDirectory_(QDir::homePath())
{
    setObjectName("ChartExports");
    askPath_ = [this](const QString& caption, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(&form_, caption, suggested, filter);
    };
    askOpenPath_ = [this](const QString& caption, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(&form_, caption, folder, filter);
    };
    showFailure_ = [this](const QString& message) {
        QMessageBox::critical(&form_, form_.windowTitle(), message);
    };

    StatisticsChart* chart = form_.chart();
    chart->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(chart, &QWidget::customContextMenuRequested, this, &ChartExports::ShowContextMenu);
}

void ChartExports::SetPathAsker(PathAsker asker)
{
    askPath_ = std::move(asker);
}

void ChartExports::SetOpenPathAsker(OpenPathAsker asker)
{
    askOpenPath_ = std::move(asker);
}

void ChartExports::SetFailureSink(FailureSink sink)
{
    showFailure_ = std::move(sink);
}

void ChartExports::AddActions(QMenu& menu)
{
    connect(menu.addAction("Save chart as picture..."), &QAction::triggered, this, [this] { SaveChartPicture(); });
    connect(menu.addAction("Save statistics as CSV..."), &QAction::triggered, this, [this] { SaveStatisticsCsv(); });
    connect(menu.addAction("Save world picture..."), &QAction::triggered, this, [this] { SaveWorldPicture(); });
    connect(menu.addAction("Save run state..."), &QAction::triggered, this, [this] { SaveRunState(); });
    connect(menu.addAction("Open run state..."), &QAction::triggered, this, [this] { OpenRunState(); });
    connect(menu.addAction("Copy run as command line"), &QAction::triggered, this, [this] { CopyRunCommandLine(); });
}

void ChartExports::CopyRunCommandLine()
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(RunCommandLine(form_.simulation())));
}

void ChartExports::ShowContextMenu(const QPoint& position)
{
    // A scroll area reports the position in its viewport's coordinates.
    QWidget* viewport = form_.chart()->viewport();
    auto* menu = new QMenu(form_.chart());
    menu->setObjectName("ChartContextMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    AddActions(*menu);
    menu->popup(viewport->mapToGlobal(position));
}

bool ChartExports::SaveAs(const QString& caption, const QString& suggestedName, const QString& filter,
                          const Writer& write)
{
    const QString path = askPath_(caption, QDir(lastDirectory_).filePath(suggestedName), filter);
    if (path.isEmpty()) return false;
    lastDirectory_ = QFileInfo(path).absolutePath();
    const QString error = WriteFileAtomically(path, write);
    if (error.isEmpty()) return true;
    showFailure_(QStringLiteral("Could not save \"%1\": %2").arg(QDir::toNativeSeparators(path), error));
    return false;
}

bool ChartExports::SaveChartPicture()
{
    return SaveAs("Save chart as picture", "landuse-chart.png", kPngFilter, [this](QIODevice& file) {
        StatisticsChart* chart = form_.chart();
        chart->Flush();  // every plotted point on screen first
        return WriteImage(chart->grab().toImage(), file);
    });
}

bool ChartExports::SaveStatisticsCsv()
{
    return SaveAs("Save statistics as CSV", "landuse-statistics.csv", kCsvFilter, [this](QIODevice& file) {
        std::string text = kStatisticsCsvHeader;
        for (const StepStatistics& step : form_.chart()->PlottedSteps()) text += StatisticsCsvLine(step);
        const qint64 size = static_cast<qint64>(text.size());
        if (file.write(text.data(), size) != size) return file.errorString();
        return QString();
    });
}

bool ChartExports::SaveWorldPicture()
{
    const QString name = QStringLiteral("landuse-world-step-%1.png").arg(form_.simulation().run.stepCount);
    return SaveAs("Save world picture", name, kPngFilter, [this](QIODevice& file) {
        // The panel paints the agent layer over the cell layer, as on screen.
        return WriteImage(form_.zeichenPanel()->grab().toImage(), file);
    });
}

bool ChartExports::SaveRunState()
{
    const QString name = QStringLiteral("landuse-state-step-%1.lus").arg(form_.simulation().run.stepCount);
    return SaveAs("Save run state", name, kStateFilter, [this](QIODevice& file) {
        std::string bytes;
        try {
            bytes = EncodeRunState(form_.simulation(), form_.chart()->PlottedSteps());
        } catch (const RunStateError& error) {
            return QString::fromStdString(error.what());
        }
        return WriteAll(file, QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
    });
}

bool ChartExports::OpenRunState()
{
    const QString path = askOpenPath_("Open run state", lastDirectory_, kStateFilter);
    if (path.isEmpty()) return false;
    lastDirectory_ = QFileInfo(path).absolutePath();
    const auto fail = [&](const QString& reason) {
        showFailure_(QStringLiteral("Could not open \"%1\": %2").arg(QDir::toNativeSeparators(path), reason));
        return false;
    };
    QFile file(path);
    if (!QFileInfo(path).isFile()) return fail(QStringLiteral("it is not a file"));
    if (file.size() > kMaxStateBytes) return fail(QStringLiteral("it is too large for a run state"));
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return fail(file.errorString());
    const QString error = form_.OpenRunState(bytes);
    if (!error.isEmpty()) return fail(error);
    return true;
}
