#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CellForm.h"
#include "display_check.h"
#include "statistics_chart.h"
#include "version.h"

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
            bool saved = form.grab().save(path, "PNG");
            QString base = path;
            if (base.endsWith(".png", Qt::CaseInsensitive)) base.chop(4);
            for (int page = 0; page < pages->count(); ++page) {
                if (page == opening) continue;
                pages->setCurrentIndex(page);
                const QString name = base + "-" + pages->tabText(page).toLower() + ".png";
                saved = form.grab().save(name, "PNG") && saved;
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

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv, argv + argc);

    // --help and --version need no display: they are answered before Qt opens one.
    QCoreApplication::setApplicationName("landuse");
    QCoreApplication::setApplicationVersion(LandUseVersion());
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    QStringList argumentList;
    for (const std::string& argument : arguments) argumentList << QString::fromLocal8Bit(argument.c_str());
    parser.parse(argumentList);  // Qt's own options are unknown here; Qt takes them below
    // Without an application object the parser does not know the program's name.
    const QString helpText = parser.helpText().replace("<executable_name>", "landuse");
    if (parser.isSet(help) || parser.isSet("help-all")) {
        std::fputs(qPrintable(helpText), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("landuse %s\n", LandUseVersion());
        return 0;
    }

    if (const auto reason = MissingDisplayReason(CurrentDisplayEnvironment(arguments))) {
        std::fprintf(stderr, "landuse: %s.\nRun landuse-headless to run the model without a window.\n",
                     reason->c_str());
        return kExitNoDisplay;
    }

    qtMessageHandler = qInstallMessageHandler(ExitWhenThePlatformFails);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtMessageHandler);

    // Whatever Qt did not take as its own is a mistake.
    const QStringList rest = app.arguments().mid(1);
    if (!rest.isEmpty()) {
        std::fprintf(stderr, "landuse: unknown argument \"%s\"\n%s", qPrintable(rest.first()),
                     qPrintable(helpText));
        return kExitUsage;
    }

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
