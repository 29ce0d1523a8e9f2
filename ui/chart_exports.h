#pragma once
#include <QObject>
#include <QString>
#include <functional>

class QIODevice;
class QMenu;
class QPoint;
class TForm1;

// The chart's context menu (right button on the chart): the chart as a picture,
// the plotted statistics as CSV, the world as a picture and the run's state, each
// saved to a file the user names, and a saved run state opened. A file is written under a temporary name and renamed only when
// it is complete, so a failure leaves no partial file; the failure's reason is
// shown in a message box.
class ChartExports : public QObject {
    Q_OBJECT
public:
    // Asks where to save (caption, suggested path, file-type filter); an empty
    // answer cancels. A file dialog by default.
    using PathAsker =
        std::function<QString(const QString& caption, const QString& suggested, const QString& filter)>;
    // Asks which file to open (caption, folder, filter); an empty answer cancels.
    using OpenPathAsker = std::function<QString(const QString& caption, const QString& folder, const QString& filter)>;
    // Shows a failure to the user. A modal message box by default.
    using FailureSink = std::function<void(const QString& message)>;

    // Attaches the menu to the window's chart; the object lives as the window's child.
    explicit ChartExports(TForm1& form);

    void SetPathAsker(PathAsker asker);
    void SetOpenPathAsker(OpenPathAsker asker);
    void SetFailureSink(FailureSink sink);

    // Puts the menu's actions, in order, into the menu.
    void AddActions(QMenu& menu);

    // The actions: each asks for a path and saves; true when a file was written.
    bool SaveChartPicture();
    bool SaveStatisticsCsv();
    bool SaveWorldPicture();
    // The whole run (controls, world, agents, generator, plotted statistics), to go
    // on with later here or in landuse-headless --load-state.
    bool SaveRunState();
    // Replaces the run with a saved one; a file that is no run state this program
    // reads changes nothing and is reported.
    bool OpenRunState();
    // A landuse-headless command for the current set-up and settings, to the clipboard.
    void CopyRunCommandLine();

private:
    // Writes the whole content into `file` (in memory) or returns why it could
    // not; empty on success.
    using Writer = std::function<QString(QIODevice& file)>;

    void ShowContextMenu(const QPoint& position);
    bool SaveAs(const QString& caption, const QString& suggestedName, const QString& filter, const Writer& write);

    TForm1& form_;
    PathAsker askPath_;
    OpenPathAsker askOpenPath_;
    FailureSink showFailure_;
    QString lastDirectory_;
};

// Writes a file atomically with AtomicFile (files/atomic_file.h, the rule for
// names and links the runner follows too): `write` makes the content in memory,
// which goes into a temporary file beside `path`, renamed over `path` only when
// every write, the sync and the close succeeded; a device or FIFO is written
// into. Returns the reason of a failure (the system's, for a failure on disk),
// or an empty text.
QString WriteFileAtomically(const QString& path, const std::function<QString(QIODevice& file)>& write);
