#pragma once
#include "shell/app/ShellHooks.h"

#include <QFuture>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

class AppModel;
class QAccessibleInterface;
class QMenuBar;
class QObject;
class QWidget;

// The interface audit mode: started from the command line, the program drives its own main
// window through the menu bar, times every page in both layouts and leaves reports and
// pictures in an output folder. The main view keeps the two page values current; the run
// polls them. Everything here lives on the main thread.
namespace RuntimeAudit {
// The page identifier that the main view shows; empty at start.
extern QString visiblePage;
// The page whose content is mounted and shown; none while a page is being mounted.
extern std::optional<QString> contentPage;

// Starts the audit run once per process when the arguments ask for it; returns at once.
void startIfRequested(AppModel& model);

// The audit's part in the main views: startIfRequested on the first show, and the two page
// values kept current.
ShellHooks::Audit shellHooks();

// What the arguments ask for.
struct Request {
    QString outputFolder;   // after the first "--ui-audit-output"; relative to the current folder
    bool coldApps = false;  // "--ui-audit-cold-apps": skip loading the installed applications
};
// None unless "--ui-audit-output" occurs with an argument after it.
std::optional<Request> requestFrom(const QStringList& arguments);

// The waits of a run, in milliseconds, and its poll limits.
struct Timing {
    int afterFolder = 1000;
    int afterFront = 500;
    int afterLayout = 300;
    int pollInterval = 5;
    int visibleChecks = 400;
    int contentChecks = 600;
    int afterPage = 100;
    int panelInterval = 100;
};

// One run, whatever the arguments say; the future finishes when the run has ended (its
// reports written and the layout setting restored), or is cancelled when the model goes
// first. startIfRequested uses it with the fixed timing.
QFuture<void> run(AppModel& model, const Request& request, const Timing& timing = {});

// The run's own failures.
struct AuditError {
    enum class Kind { missingControl, timeout, missingWindow };
    Kind kind;
    QString text;  // the control or awaited page; empty for missingWindow
    // missingControl("内存"), timeout("content-内存"), missingWindow.
    QString description() const;
};

// One page visit.
struct Result {
    QString layout;
    QString page;
    int64_t round = 0;
    double milliseconds = 0;
    double contentMilliseconds = 0;
};

// One element of the accessibility tree as the walk saw it; absent texts are none.
struct Element {
    QString className;
    std::optional<QString> role;
    std::optional<QString> label;
    std::optional<QString> identifier;
};
inline constexpr int deepestElement = 23;
// The depth-first pre-order of the accessibility tree under `value` (root at `depth`), leaving
// out everything deeper than 23 and every element that is not visible, with what lies under it;
// empty when `value` has no accessible interface.
std::vector<Element> elements(QObject* value, int depth);
std::vector<Element> elements(QAccessibleInterface* element, int depth);

// Report contents.
QByteArray menusText(const QMenuBar* menuBar);
QByteArray treeText(const std::vector<Element>& elements);
QByteArray navigationJson(const std::vector<Result>& results);
std::vector<Result> resultsFromJson(const QByteArray& json);
// The title a menu item shows, without its mnemonic marks.
QString shownTitle(const QString& text);
} // namespace RuntimeAudit
