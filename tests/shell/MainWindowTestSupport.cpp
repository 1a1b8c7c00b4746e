#include "MainWindowTestSupport.h"

#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"

#include <QApplication>

ShellHarness::ShellHarness()
{
    ensureShellApp();
    makeDirs(home.path("Documents"));
    AppModel::Collaborators services;
    services.chooseFolder = [this] { return chooser ? chooser() : chosenFolder; };
    services.preview = [](const std::string&) { return std::optional<std::string>(); };
    services.runningApplications = std::make_shared<NoApplications>();
    services.readMemory = [this] {
        ++memoryReads;
        return memory;
    };
    services.readApplicationMemory = [](const std::vector<ApplicationIdentity>&) {
        return std::vector<ApplicationMemory>{};
    };
    services.documentsFolder = [folder = home.path("Documents")] { return std::optional<std::string>(folder); };
    auto model = std::make_unique<AppModel>(home.dataHome() + "/Tessyn/operations.json",
                                            std::vector<std::string>{home.path("Applications")}, home.root(),
                                            std::move(services));
    app = std::make_unique<TessynApp>(std::move(model));
    app->setExit([this] { ++exits; });
}

ShellHarness::~ShellHarness()
{
    app.reset();
    // Windows deleted on close go at the next turn; let them go while the home still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

MainWindow* ShellHarness::openWindow()
{
    MainWindow* window = app->openMainWindow();
    EXPECT_TRUE(activate(window));
    EXPECT_TRUE(waitReady(window->view(), window->view()->page()));
    return window;
}

std::string ShellHarness::folder(const std::string& name) const
{
    std::string path = home.path(name);
    makeDirs(path);
    return path;
}

MainView* viewOf(MainWindow* window) { return window->view(); }

bool activate(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window, 5000);
}

void press(QWidget* window, const QKeySequence& keys) { QTest::keySequence(window, keys); }

bool waitReady(MainView* view, const QString& page, int milliseconds)
{
    return QTest::qWaitFor([&] { return view->page() == page && view->readyPage() == page; }, milliseconds);
}

bool focusByKeyboard(QWidget* widget)
{
    if (!activate(widget->window())) return false;
    widget->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([&] { return widget->hasFocus(); });
}

std::vector<QWidget*> tabRound(QWidget* start, int most)
{
    std::vector<QWidget*> stops;
    for (bool focused = focusByKeyboard(start); focused && int(stops.size()) < most;) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        if (!now || now == start) break;
        stops.push_back(now);
    }
    return stops;
}
