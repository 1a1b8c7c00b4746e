#include "../MainWindowTestSupport.h"

#include "shell/app/AppSettings.h"
#include "shell/window/CachedPageHost.h"
#include "shell/DesktopServices.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/window/NavigationItem.h"
#include "shell/window/PageContent.h"
#include "shell/PageTask.h"
#include "shell/style/Palette.h"
#include "shell/window/SettingsWindow.h"
#include "shell/style/SymbolView.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <vector>
#include "QtWaits.h"

namespace {

class PageSeamTest : public ShellTest {
protected:
    void TearDown() override
    {
        installPageFactory({});
        DesktopServices::setLauncher({});
        ShellTest::TearDown();
    }
};

// A desktop that records what it is asked: the file manager answers while `fileManager`
// holds, and only the `installed` programs are found.
struct RecordingDesktop {
    QStringList shown;
    std::vector<QUrl> opened;
    QStringList started;
    bool fileManager = true;
    QStringList installed;

    void install()
    {
        DesktopServices::Launcher launcher;
        launcher.showItems = [this](const QStringList& uris, std::function<void(bool)> answered) {
            shown += uris;
            answered(fileManager);
        };
        launcher.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        launcher.startProgram = [this](const QString& program) {
            started << program;
            return true;
        };
        launcher.findProgram = [this](const QString& name) {
            return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
        };
        DesktopServices::setLauncher(launcher);
    }
};

// A file manager on a test bus that takes every ShowItems call and answers it, declines it,
// or leaves it unanswered.
class FakeFileManager : public QDBusVirtualObject {
public:
    enum class Way { answers, declines, silent };
    Way way = Way::silent;
    int calls = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("ShowItems")) return false;
        ++calls;
        if (way == Way::answers) connection.send(message.createReply());
        if (way == Way::declines) connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no")));
        return true;
    }
};

// A page that says which language it was built in.
class LanguagePage : public QLabel {
public:
    explicit LanguagePage(const QString& page) { setText(page + QStringLiteral(":") + AppSettings::shared().languageRaw()); }
};

// The ink colour of a drawn symbol: the darkest (light) or lightest (dark) pixel.
QColor drawnColour(QWidget* widget, bool dark)
{
    QImage image = widget->grab().toImage();
    QColor best = dark ? QColor(Qt::black) : QColor(Qt::white);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor c = image.pixelColor(x, y);
            if (c.alpha() < 200) continue;
            if (dark ? c.lightness() > best.lightness() : c.lightness() < best.lightness()) best = c;
        }
    return best;
}

} // namespace

TEST_F(PageSeamTest, FactoryPagesAndSettingsContentAreBuiltAgainInTheNewLanguage)
{
    int built = 0;
    PageFactory factory;
    factory.page = [&](const QString& page, AppModel&, const PageFactory::Navigate&) -> QWidget* {
        ++built;
        return page == QStringLiteral("文件") ? new LanguagePage(page) : nullptr;
    };
    factory.settings = [&](AppModel&) -> QWidget* { return new LanguagePage(QStringLiteral("设置")); };
    installPageFactory(factory);

    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    press(window, QKeySequence(Qt::CTRL | Qt::Key_3));
    ASSERT_TRUE(waitReady(view, "文件"));
    auto* files = qobject_cast<QLabel*>(view->pageHost()->page("文件"));
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->text(), "文件:en");
    press(window, QKeySequence(Qt::CTRL | Qt::Key_2));
    ASSERT_TRUE(waitReady(view, "内存"));
    EXPECT_NE(view->pageHost()->page("内存")->objectName().indexOf("pending"), -1)
        << "a page the factory does not build gets the stand-in";

    SettingsWindow* settings = shell.app->showSettings();
    QPointer<QWidget> oldContent = settings->content();
    EXPECT_EQ(qobject_cast<QLabel*>(oldContent.data())->text(), "设置:en");

    setSetting(AppSettings::languageKey, "zh-Hans");
    QWidget* newContent = settings->content();
    ASSERT_NE(newContent, oldContent.data());
    EXPECT_EQ(qobject_cast<QLabel*>(newContent)->text(), "设置:zh-Hans") << "the settings window is rebuilt";
    EXPECT_EQ(settings->windowTitle(), "设置");
    QTRY_VERIFY(!oldContent);
    ASSERT_TRUE(activate(window));
    press(window, QKeySequence(Qt::CTRL | Qt::Key_3));
    ASSERT_TRUE(waitReady(view, "文件"));
    EXPECT_EQ(qobject_cast<QLabel*>(view->pageHost()->page("文件"))->text(), "文件:zh-Hans");
    setSetting(AppSettings::languageKey, "en");
}

// A page chosen by its shortcut takes the focus to its first control, whether it is built for
// it, already shown, or shown again, so that what is typed next reaches the page.
TEST_F(PageSeamTest, APageChosenByItsShortcutTakesTheFocus)
{
    PageFactory factory;
    factory.page = [](const QString& page, AppModel&, const PageFactory::Navigate&) -> QWidget* {
        if (page != QStringLiteral("文件")) return nullptr;
        auto* files = new QWidget();
        (new QVBoxLayout(files))->addWidget(new QLineEdit());
        return files;
    };
    installPageFactory(factory);
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    QWidget* entry = view->navigationItems().front();
    for (const char* round : {"built", "already shown", "shown again"}) {
        SCOPED_TRACE(round);
        if (std::string(round) == "shown again") press(window, QKeySequence(Qt::CTRL | Qt::Key_1));
        entry->setFocus(Qt::TabFocusReason);
        press(window, QKeySequence(Qt::CTRL | Qt::Key_3));
        ASSERT_TRUE(waitReady(view, "文件"));
        auto* field = view->pageHost()->page("文件")->findChild<QLineEdit*>();
        QTRY_COMPARE(QApplication::focusWidget(), field);
    }
    QTest::keyClicks(QApplication::focusWidget(), "ab");
    EXPECT_EQ(view->pageHost()->page("文件")->findChild<QLineEdit*>()->text(), "ab");
}

// Back on a page by its shortcut, the focus goes to its first control in sight: the page stays
// where it was scrolled to.
TEST_F(PageSeamTest, APageChosenAgainByItsShortcutKeepsItsScrollPosition)
{
    PageFactory factory;
    factory.page = [](const QString& page, AppModel&, const PageFactory::Navigate&) -> QWidget* {
        if (page != QStringLiteral("文件")) return nullptr;
        auto* area = new QScrollArea();
        area->setWidgetResizable(true);
        auto* body = new QWidget();
        auto* rows = new QVBoxLayout(body);
        for (const char* name : {"top", "lower"}) {
            rows->addWidget(new QPushButton(QString::fromLatin1(name)));
            rows->addSpacing(1500);
        }
        area->setWidget(body);
        return area;
    };
    installPageFactory(factory);
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    press(window, QKeySequence(Qt::CTRL | Qt::Key_3));
    ASSERT_TRUE(waitReady(view, "文件"));
    auto* area = qobject_cast<QScrollArea*>(view->pageHost()->page("文件"));
    area->verticalScrollBar()->setValue(1400);
    press(window, QKeySequence(Qt::CTRL | Qt::Key_1));
    ASSERT_TRUE(waitReady(view, "概览"));
    press(window, QKeySequence(Qt::CTRL | Qt::Key_3));
    QTRY_COMPARE(QApplication::focusWidget(), area->findChildren<QPushButton*>().back());
    EXPECT_EQ(area->verticalScrollBar()->value(), 1400);
}

TEST_F(PageSeamTest, SidebarShieldFollowsTheAppearance)
{
    ShellHarness shell;
    MainWindow* window = shell.openWindow();
    SymbolView* shield = nullptr;
    for (SymbolView* symbol : viewOf(window)->sidebar()->findChildren<SymbolView*>())
        if (symbol->symbol() == QStringLiteral("lock.shield")) shield = symbol;
    ASSERT_NE(shield, nullptr);

    setSetting(AppSettings::appearanceKey, "light");
    QColor light = drawnColour(shield, false);
    setSetting(AppSettings::appearanceKey, "dark");
    QColor dark = drawnColour(shield, true);
    setSetting(AppSettings::appearanceKey, "system");
    EXPECT_LT(light.lightness(), 128) << "dark ink on a light window";
    EXPECT_GT(dark.lightness(), 128) << "light ink on a dark window";
}

TEST_F(PageSeamTest, DesktopServicesRevealOpenTrashAndStartTheMonitor)
{
    TempHome home;
    RecordingDesktop desktop;
    desktop.install();
    auto& [shown, opened, started, fileManager, installed] = desktop;

    DesktopServices::reveal("/data/季度 报告.pdf");
    EXPECT_EQ(shown, QStringList{"file:///data/%E5%AD%A3%E5%BA%A6%20%E6%8A%A5%E5%91%8A.pdf"});
    EXPECT_TRUE(opened.empty()) << "the file manager showed it";
    fileManager = false;
    DesktopServices::reveal("/data/sub/a.txt");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile("/data/sub")) << "without a file manager, its folder opens";

    EXPECT_TRUE(DesktopServices::openTrash());
    EXPECT_EQ(opened.back(), QUrl::fromLocalFile(QString::fromStdString(home.dataHome() + "/Trash/files")));

    EXPECT_FALSE(DesktopServices::openActivityMonitor()) << "none installed: nothing starts";
    EXPECT_TRUE(started.isEmpty());
    installed = {"xfce4-taskmanager", "ksysguard"};
    EXPECT_TRUE(DesktopServices::openActivityMonitor());
    EXPECT_EQ(started, QStringList{"/usr/bin/ksysguard"}) << "the first of the list that is installed";

    // Qt's own texts (the folder chooser's) follow the interface language.
    const char* lookIn = "Look in:";
    DesktopServices::applyQtTranslations(AppLanguage::simplifiedChinese);
    EXPECT_NE(QCoreApplication::translate("QFileDialog", lookIn), lookIn);
    DesktopServices::applyQtTranslations(AppLanguage::english);
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", lookIn), lookIn);
}

// Revealing never holds the window for the file manager: one that declines or never answers
// gets the folder opened instead, the silent one after about a second.
TEST_F(PageSeamTest, RevealDoesNotWaitForTheFileManager)
{
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) << "dbus-daemon is installed by the setup script";
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForReadyRead(5000)) << daemon.errorString().toStdString();
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("test-file-manager"));
    QDBusConnection caller = QDBusConnection::connectToBus(address, QStringLiteral("test-caller"));
    FakeFileManager fileManager;
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    std::vector<QUrl> opened;
    std::vector<bool> answers;
    DesktopServices::Launcher launcher;
    launcher.showItems = [caller, &answers](const QStringList& uris, std::function<void(bool)> answered) {
        DesktopServices::showItemsOver(caller, uris, [&answers, answered](bool shown) {
            answers.push_back(shown);
            answered(shown);
        });
    };
    launcher.openUrl = [&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    DesktopServices::setLauncher(launcher);

    using Way = FakeFileManager::Way;
    const int wait = DesktopServices::fileManagerWait;
    struct Case {
        Way way;
        bool shown;
        int atLeast, below; // when the answer comes, in milliseconds after the reveal
    } cases[] = {
        {Way::answers, true, 0, wait},
        {Way::declines, false, 0, wait},
        {Way::silent, false, wait - 100, 2 * wait},
    };
    for (const auto& [way, shown, atLeast, below] : cases) {
        SCOPED_TRACE(static_cast<int>(way));
        fileManager.way = way;
        fileManager.calls = 0;
        opened.clear();
        answers.clear();
        QElapsedTimer clock;
        clock.start();
        DesktopServices::reveal("/data/sub/a.txt");
        EXPECT_LT(clock.elapsed(), 200) << "reveal returns at once";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.empty(); }, 3000));
        EXPECT_GE(clock.elapsed(), atLeast);
        EXPECT_LT(clock.elapsed(), below);
        EXPECT_EQ(fileManager.calls, 1) << "the call reached the file manager";
        EXPECT_EQ(answers, std::vector<bool>{shown});
        EXPECT_EQ(opened, shown ? std::vector<QUrl>{} : std::vector<QUrl>{QUrl::fromLocalFile(QStringLiteral("/data/sub"))})
            << "the folder opens unless the file manager showed the item";
    }
    service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("test-caller"));
    QDBusConnection::disconnectFromBus(QStringLiteral("test-file-manager"));
    daemon.terminate();
    daemon.waitForFinished(5000);
}

TEST_F(PageSeamTest, OffMainThreadWorkReachesOnlyALivingOwner)
{
    auto owner = std::make_unique<QObject>();
    std::atomic<bool> release{false};
    Qt::HANDLE workerThread = nullptr;
    int delivered = 0;
    runOffMainThread(
        owner.get(),
        [&] {
            workerThread = QThread::currentThreadId();
            return 42;
        },
        [&](int value) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            delivered += value;
        });
    QTRY_COMPARE(delivered, 42);
    EXPECT_NE(workerThread, QThread::currentThreadId());

    // The owner goes while the work runs: the result is dropped.
    runOffMainThread(
        owner.get(),
        [&] {
            release.wait(false);
            return 1;
        },
        [&](int value) { delivered += value; });
    owner.reset();
    release = true;
    release.notify_all();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 42);
}

TEST_F(PageSeamTest, RevealNamesTheSameFileWhateverBytesItsPathHolds)
{
    RecordingDesktop desktop;
    desktop.fileManager = false;
    desktop.install();
    QStringList& shown = desktop.shown;
    std::vector<QUrl>& opened = desktop.opened;
    struct Case {
        std::string path, item, folder;
    } cases[] = {
        {"/data/d\xff r/a\xfe #?\n%.txt", "file:///data/d%FF%20r/a%FE%20%23%3F%0A%25.txt", "file:///data/d%FF%20r"},
        {"/data/季度 报告.pdf", "file:///data/%E5%AD%A3%E5%BA%A6%20%E6%8A%A5%E5%91%8A.pdf", "file:///data"},
        {"/top", "file:///top", "file:///"},
    };
    for (const auto& [path, item, folder] : cases) {
        shown.clear();
        opened.clear();
        DesktopServices::reveal(path);
        EXPECT_EQ(shown.join('|').toStdString(), item);
        ASSERT_EQ(opened.size(), 1u) << item;
        EXPECT_EQ(opened[0].toEncoded().toStdString(), folder);
    }
}
