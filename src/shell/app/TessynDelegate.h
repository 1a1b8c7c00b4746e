#pragma once
#include <QList>
#include <QObject>
#include <QPointer>

class AppModel;
class QMenu;
class QSocketNotifier;

// The application's delegate: reopens a window shortly after launch when none is visible, and
// makes the one quit decision used by the quit command, the closing of the last main window
// and SIGTERM / SIGINT.
class TessynDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int reopenDelayMs = 300;

    explicit TessynDelegate(QObject* parent = nullptr);

    // Set when a main window's content is first shown; never owned.
    QPointer<AppModel> model;

    // Schedules the reopen check 0.3 s from now over the menus in menu-bar order.
    void applicationDidFinishLaunching(const QList<QMenu*>& menus);
    // When no window is visible, performs the first enabled item with the shortcut Ctrl+N
    // (any further modifiers allowed), searching the menus and their items in order.
    static void reopenCheck(const QList<QMenu*>& menus);

    // The quit decision. While files are being processed the model gets the message
    // "文件处理尚未完成，请等待结果保存后再退出。" and the answer is no; otherwise the scan and
    // duplicate search are cancelled and the answer is yes.
    bool applicationShouldTerminate();
};

// Turns SIGTERM and SIGINT into a call on the main thread, through a self-pipe, for as long as
// the object lives; the previous handlers are put back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
    void drain();
};
