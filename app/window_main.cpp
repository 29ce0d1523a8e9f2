#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/display_check.h"
#include "sim/core/version.h"
#include "ui/CellForm.h"
#include "ui/chart_exports.h"
#include "ui/statistics_chart.h"

namespace {

// Exit codes, as the headless runner uses them: 64 a command-line mistake; 69 no display.
constexpr int kExitUsage = 64;
constexpr int kExitNoDisplay = 69;

const char* const kDescription =
    "Land use by walking agents: the simulation window.\n"
    "The window takes no options of its own; Qt's options (such as -platform offscreen)\n"
    "are passed on to Qt. Without a display, landuse-headless runs the model.";

// Only for scripts/screenshot.sh: with LANDUSE_SCREENSHOT=<file.png> the window
// turns "show agents" on, sets the stop time to LANDUSE_SCREENSHOT_STEPS (default
// 400) and presses "start / stop", so the run stops by itself at exactly that
// step. It then saves a picture of itself with each page of the tab control shown:
// <file.png> with the page the window opens with, <file>-<page>.png with the others.
void TakeScreenshotsAfterRun(QApplication& app, TForm1& form, const QString& path, int steps)
{
    form.panel().CB_showAg->setChecked(true);
    form.panel().E_stop->setText(QString::number(steps));
    form.panel().B_stop->click();
    auto* poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [&app, &form, poll, path] {
        if (form.timer()->isActive()) return;
        poll->stop();
        // One last frame of the panel and the chart before the pictures are taken.
        QTimer::singleShot(100, &form, [&app, &form, path] {
            QTabWidget* pages = form.panel().PageControl1;
            const int opening = pages->currentIndex();
            // Each picture written whole, as the window's own saves are.
            const auto savePicture = [&form](const QString& name) {
                const auto encode = [&form](QIODevice& file) {
                    return form.grab().save(&file, "PNG") ? QString() : QStringLiteral("not encoded");
                };
                return WriteFileAtomically(name, encode).isEmpty();
            };
            bool saved = savePicture(path);
            QString base = path;
            if (base.endsWith(".png", Qt::CaseInsensitive)) base.chop(4);
            for (int page = 0; page < pages->count(); ++page) {
                if (page == opening) continue;
                pages->setCurrentIndex(page);
                const QString name = base + "-" + pages->tabText(page).toLower() + ".png";
                saved = savePicture(name) && saved;
            }
            pages->setCurrentIndex(opening);
            app.exit(saved ? 0 : 1);
        });
    });
    poll->start(10);
}

QtMessageHandler qtMessageHandler = nullptr;

// While Qt opens its platform, a fatal message (no display could be reached,
// whatever DISPLAY says) ends the program with an explanation instead of an abort.
void ExitWhenThePlatformFails(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (qtMessageHandler) qtMessageHandler(type, context, message);
    if (type != QtFatalMsg) return;
    std::fputs("landuse: the window cannot be shown: no display could be used\n", stderr);
    std::_Exit(kExitNoDisplay);
}

void KeepOnlyFatalMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg && qtMessageHandler) qtMessageHandler(type, context, message);
}

// Qt's own options are known only to a running application object. Where no
// window is to be shown, one on the offscreen platform (it needs no display)
// takes them, so that --help-all can list them and a mistake is told from them.
class OffscreenApplication {
public:
    OffscreenApplication(int argc, char** argv) : arguments_(argv, argv + argc)
    {
        // The last -platform counts: this one wins over any the user gave.
        arguments_.push_back(const_cast<char*>("-platform"));
        arguments_.push_back(const_cast<char*>("offscreen"));
        count_ = static_cast<int>(arguments_.size());
        arguments_.push_back(nullptr);
        // Its start-up notes (no runtime folder and the like) concern no one here.
        const QtMessageHandler previous = qInstallMessageHandler(KeepOnlyFatalMessages);
        app_ = std::make_unique<QApplication>(count_, arguments_.data());
        qInstallMessageHandler(previous);
    }
    QApplication& app() { return *app_; }

private:
    std::vector<char*> arguments_;
    int count_ = 0;
    std::unique_ptr<QApplication> app_;
};

// Whatever Qt did not take as its own, and is none of the window's options, is a
// mistake: says so and gives the exit code.
std::optional<int> RefuseUnknownArguments(QCommandLineParser& parser, const QApplication& app,
                                          const QString& helpText)
{
    parser.parse(app.arguments());
    QStringList unknown = parser.unknownOptionNames();
    unknown << parser.positionalArguments();
    if (unknown.isEmpty()) return std::nullopt;
    // The parser names an option without its dashes: the argument is shown as given.
    QString shown = unknown.first();
    for (const QString& argument : app.arguments().mid(1)) {
        QString name = argument.section('=', 0, 0);
        while (name.startsWith('-')) name.remove(0, 1);
        if (name == shown) {
            shown = argument;
            break;
        }
    }
    std::fprintf(stderr, "landuse: unknown argument \"%s\"\n%s", qPrintable(shown), qPrintable(helpText));
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv, argv + argc);

    // --help and --version need no display: they are answered before Qt opens one.
    QCoreApplication::setApplicationName("landuse");
    QCoreApplication::setApplicationVersion(LandUseVersion());
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    // Qt's options are words after one dash (-reverse, -platform): never read as -r -e -v ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    QStringList argumentList;
    for (const std::string& argument : arguments) argumentList << QString::fromLocal8Bit(argument.c_str());
    parser.parse(argumentList);  // Qt's own options are unknown here; Qt takes them below
    // Without an application object the parser does not know the program's name.
    const QString helpText = parser.helpText().replace("<executable_name>", "landuse");
    if (parser.isSet(help)) {
        std::fputs(qPrintable(helpText), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("landuse %s\n", LandUseVersion());
        return 0;
    }

    const auto missingDisplay = MissingDisplayReason(CurrentDisplayEnvironment(arguments));
    if (parser.isSet("help-all") || missingDisplay) {
        OffscreenApplication offscreen(argc, argv);
        if (const auto code = RefuseUnknownArguments(parser, offscreen.app(), helpText)) return *code;
        if (parser.isSet("help-all")) parser.process(offscreen.app());  // prints Qt's options too and exits 0
        std::fprintf(stderr, "landuse: %s.\nRun landuse-headless to run the model without a window.\n",
                     missingDisplay->c_str());
        return kExitNoDisplay;
    }

    qtMessageHandler = qInstallMessageHandler(ExitWhenThePlatformFails);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtMessageHandler);
    if (const auto code = RefuseUnknownArguments(parser, app, helpText)) return *code;

    TForm1 form;
    form.show();

    const QString screenshot = qEnvironmentVariable("LANDUSE_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        bool ok = false;
        int steps = qEnvironmentVariableIntValue("LANDUSE_SCREENSHOT_STEPS", &ok);
        if (!ok || steps <= 0) steps = 400;
        TakeScreenshotsAfterRun(app, form, screenshot, steps);
    }
    return app.exec();
}
