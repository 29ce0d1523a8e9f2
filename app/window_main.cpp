#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include "CellForm.h"
#include "statistics_chart.h"

namespace {

// Only for scripts/screenshot.sh: with LANDUSE_SCREENSHOT=<file.png> the window
// turns "show agents" on, presses "start / stop", and after
// LANDUSE_SCREENSHOT_STEPS steps (default 400) saves itself as a PNG and quits.
void TakeScreenshotAfterRun(QApplication& app, TForm1& form, const QString& path, int steps)
{
    form.panel().CB_showAg->setChecked(true);
    form.panel().B_stop->click();
    auto* poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [&app, &form, poll, path, steps] {
        if (form.simulation().run.stepCount < steps && form.timer()->isActive()) return;
        poll->stop();
        if (form.timer()->isActive()) form.panel().B_stop->click();
        // One last frame of the panel and the chart before the picture is taken.
        QTimer::singleShot(100, &form, [&app, &form, path] {
            const bool saved = form.grab().save(path, "PNG");
            app.exit(saved ? 0 : 1);
        });
    });
    poll->start(10);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TForm1 form;
    form.show();

    const QString screenshot = qEnvironmentVariable("LANDUSE_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        bool ok = false;
        int steps = qEnvironmentVariableIntValue("LANDUSE_SCREENSHOT_STEPS", &ok);
        if (!ok || steps <= 0) steps = 400;
        TakeScreenshotAfterRun(app, form, screenshot, steps);
    }
    return app.exec();
}
