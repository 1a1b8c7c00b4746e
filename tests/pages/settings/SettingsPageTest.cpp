#include "../../shell/MainWindowTestSupport.h"
#include "../../update/UpdateTestSupport.h"

#include "pages/PageCatalog.h"
#include "pages/settings/SettingsPage.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/style/AppAppearance.h"
#include "shell/app/AppSettings.h"
#include "shell/window/CachedPageHost.h"
#include "shell/controls/LanguagePicker.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/window/PageDestinations.h"
#include "shell/window/SettingsWindow.h"
#include "shell/controls/StyledLabel.h"
#include "update/SoftwareUpdateView.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <map>

using State = SoftwareUpdateController::State;

namespace {

const QByteArray image = QByteArray(30000, 'd');

QStringList cardTitles(QWidget* page)
{
    QStringList titles;
    for (QLabel* label : page->findChildren<QLabel*>(QStringLiteral("card-title"))) titles.append(label->text());
    return titles;
}

// The page as the settings window shows it: 480 wide, padded by 28.
std::unique_ptr<QWidget> framed(QWidget* page)
{
    auto frame = std::make_unique<QWidget>();
    frame->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(frame.get());
    column->setContentsMargins(28, 28, 28, 28);
    column->addWidget(page);
    frame->setFixedWidth(480);
    frame->resize(480, 1020);
    frame->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    return frame;
}

// Saves a picture for review when TESSYN_SHOTS_DIR names a folder.
void shoot(QWidget* widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("TESSYN_SHOTS_DIR");
    if (folder.isEmpty()) return;
    widget->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

class SettingsPageTest : public UpdateFixture {
protected:
    ShellHarness shell;
};

TEST_F(SettingsPageTest, UpdateCardFollowsEveryState)
{
    struct Row {
        const char* status;
        bool busy, download, open;
    };
    const std::map<State, Row> rows = {
        {State::idle, {"Check whether a new version of Tessyn is available.", false, false, false}},
        {State::checking, {"Checking for updates…", true, false, false}},
        {State::current, {"You are on the latest version.", false, false, false}},
        {State::available, {"Version 1.4.0 is available.", false, true, false}},
        {State::downloading, {"Downloading and verifying the installer…", true, false, false}},
        {State::ready, {"Verified. The installer can be opened.", false, false, true}},
        {State::failed, {"Checking for or downloading the update failed. Check the network and try again.", false, false, false}},
    };
    for (const QString language : {"en", "zh-Hans"}) {
        setSetting(AppSettings::languageKey, language);
        setSetting(AppSettings::appearanceKey, language == "en" ? "light" : "dark");
        auto controller = controllerFor(server, [](auto& environment) {
            environment.checkTimeoutMs = 700;
            environment.downloadTimeoutMs = 700;
        });
        auto* page = new SettingsPage(shell.model(), *controller);
        auto frame = framed(page);
        SoftwareUpdateView* card = page->updateCard();
        // The one card redraws as the controller moves on.
        auto expect = [&](State state) {
            ASSERT_EQ(controller->state(), state);
            const Row& row = rows.at(state);
            const int index = static_cast<int>(state);
            EXPECT_EQ(card->statusLine()->text(), language == "en" ? QString(row.status) : controller->status()) << index;
            EXPECT_EQ(card->busyIndicator()->isVisible(), row.busy) << index;
            EXPECT_EQ(card->checkButton()->isEnabled(), !row.busy) << index;
            EXPECT_TRUE(card->checkButton()->isVisible()) << index;
            EXPECT_EQ(card->downloadButton()->isVisible(), row.download) << index;
            EXPECT_EQ(card->openButton()->isVisible(), row.open) << index;
            shoot(frame.get(), QStringLiteral("settings-%1-%2").arg(language).arg(index));
        };
        expect(State::idle);
        server.answer(manifestPath, TestAnswer::stalled(QByteArray::fromStdString(publish(server, image).encode()), 5));
        QFuture<void> running = controller->checkFromMenu();
        expect(State::checking);
        ASSERT_TRUE(finish(running));
        expect(State::failed);
        for (const auto& [version, state] : {std::pair{"1.0.0", State::current}, std::pair{"1.4.0", State::available}}) {
            publish(server, image, version);
            ASSERT_TRUE(finish(controller->check()));
            expect(state);
        }
        server.answer("/tessyn/downloads/Tessyn-1.4.0.dmg", TestAnswer::stalled(image, 5));
        running = controller->download();
        expect(State::downloading);
        ASSERT_TRUE(finish(running));
        publish(server, image);
        ASSERT_TRUE(finish(controller->check()));
        ASSERT_TRUE(finish(controller->download()));
        expect(State::ready);
    }
}

TEST_F(SettingsPageTest, UpdateCardButtonsDriveTheController)
{
    publish(server, image);
    auto controller = controllerFor(server);
    auto* page = new SettingsPage(shell.model(), *controller);
    auto frame = framed(page);
    SoftwareUpdateView* card = page->updateCard();

    QTest::mouseClick(card->checkButton(), Qt::LeftButton);
    EXPECT_FALSE(card->checkButton()->isEnabled()) << "disabled while the check runs";
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->state() == State::available; }, 8000));
    ASSERT_TRUE(card->downloadButton()->isVisible());
    QTest::mouseClick(card->downloadButton(), Qt::LeftButton);
    card->downloadButton()->click();  // the second press finds the controller busy
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->state() == State::ready; }, 8000));
    int imageRequests = 0;
    for (const auto& request : server.requests()) imageRequests += request.path.endsWith(".dmg");
    EXPECT_EQ(imageRequests, 1);
    EXPECT_FALSE(card->downloadButton()->isVisible());
    ASSERT_TRUE(card->openButton()->isVisible()) << "the open button takes the download button's place";

    QTest::mouseClick(card->openButton(), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{controller->installer()});
    writeFile(localPath(controller->installer()), "changed on disk");
    QTest::mouseClick(card->openButton(), Qt::LeftButton);
    EXPECT_EQ(controller->state(), State::failed);
    EXPECT_EQ(card->statusLine()->text(), controller->status());
    EXPECT_FALSE(card->openButton()->isVisible());
    EXPECT_FALSE(card->downloadButton()->isVisible());
    EXPECT_TRUE(card->checkButton()->isVisible() && card->checkButton()->isEnabled());
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(SettingsPageTest, UpdateCardElementsAreFourteenApart)
{
    publish(server, image);
    auto controller = controllerFor(server);
    auto* page = new SettingsPage(shell.model(), *controller);
    auto frame = framed(page);
    SoftwareUpdateView* card = page->updateCard();
    auto top = [&](QWidget* widget) { return widget->mapTo(card, QPoint(0, 0)).y(); };
    auto gap = [&](QWidget* above, QWidget* below) { return top(below) - (top(above) + above->height()); };
    auto expectColumn = [&](const char* state) {
        EXPECT_EQ(gap(card->versionLine(), card->statusLine()), 14) << state;
        EXPECT_EQ(gap(card->statusLine(), card->checkButton()), 14) << state;
        EXPECT_EQ(gap(card->checkButton(), card->note()), 14) << state;
    };
    expectColumn("idle");
    ASSERT_TRUE(finish(controller->check()));
    ASSERT_TRUE(card->downloadButton()->isVisible());
    frame->layout()->activate();
    expectColumn("available");
}

TEST_F(SettingsPageTest, AppearanceChoiceAppliesAtOnceEverywhere)
{
    auto* first = new SettingsPage(shell.model());
    auto* second = new SettingsPage(shell.model());
    auto one = framed(first), two = framed(second);
    EXPECT_EQ(first->appearancePicker()->accessibleName(), "Appearance mode");
    ASSERT_EQ(first->appearancePicker()->count(), 3);
    EXPECT_EQ(first->appearancePicker()->segment(2)->text(), "Dark (Night)");

    const std::vector<std::pair<int, QPalette>> choices = {
        {2, tessynDarkPalette()}, {1, tessynLightPalette()}, {0, AppAppearanceModifier::systemPalette()}};
    for (const auto& [index, palette] : choices) {
        QTest::mouseClick(first->appearancePicker()->segment(index), Qt::LeftButton);
        EXPECT_EQ(AppSettings::shared().appearanceRaw(), rawValue(allAppAppearances[index]));
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), palette.color(QPalette::Window)) << index;
        EXPECT_EQ(second->appearancePicker()->selectedIndex(), index) << "the other window shows the choice";
    }
    setSetting(AppSettings::appearanceKey, "sepia");
    EXPECT_EQ(first->appearancePicker()->selectedIndex(), -1) << "an unknown value selects no segment";
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              AppAppearanceModifier::systemPalette().color(QPalette::Window));
}

TEST_F(SettingsPageTest, LanguageChoiceRedrawsEveryWindowAtOnce)
{
    installPageFactory(tessynPages());
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    view->setPage(Pages::settings);
    ASSERT_TRUE(waitReady(view, Pages::settings));
    SettingsWindow* settings = shell.app->showSettings();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    auto pageIn = [&] { return qobject_cast<SettingsPage*>(view->pageHost()->page(Pages::settings)); };
    auto settingsPage = [&] { return qobject_cast<SettingsPage*>(settings->content()); };
    ASSERT_TRUE(pageIn() && settingsPage());
    const QStringList english = {"Appearance", "Language", "About Tessyn", "Software Update", "Privacy & Records"};
    EXPECT_EQ(cardTitles(pageIn()), english);
    EXPECT_EQ(cardTitles(settingsPage()), english);

    QTest::mouseClick(pageIn()->template findChild<LanguagePicker*>()->segment(0), Qt::LeftButton);
    EXPECT_EQ(AppSettings::shared().languageRaw(), "zh-Hans");
    ASSERT_TRUE(QTest::qWaitFor([&] { return pageIn() && pageIn()->isVisible() && settingsPage()->isVisible(); }));
    const QStringList chinese = {"外观", "语言", "关于 Tessyn", "软件更新", "隐私与记录"};
    EXPECT_EQ(cardTitles(pageIn()), chinese);
    EXPECT_EQ(cardTitles(settingsPage()), chinese);
    EXPECT_EQ(settings->windowTitle(), "设置");
    EXPECT_EQ(settingsPage()->updateCard()->versionLine()->text(), "版本 0.6.12（构建 18）");
    EXPECT_EQ(settingsPage()->appearancePicker()->segment(1)->text(), "浅色（白天）");
    shoot(settings, "settings-window-zh");

    QTest::mouseClick(settingsPage()->template findChild<LanguagePicker*>()->segment(1), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pageIn() && pageIn()->isVisible() && settingsPage()->isVisible(); }));
    EXPECT_EQ(cardTitles(pageIn()), english);
    EXPECT_EQ(cardTitles(settingsPage()), english);
    EXPECT_EQ(pageIn()->updateCard()->versionLine()->text(), "Version 0.6.12 (build 18)");
    EXPECT_EQ(pageIn()->updateCard()->note()->text(),
              "The installer opens only after it passes the SHA-256 check. Drag the new Tessyn into Applications to "
              "replace the old version.");
    shoot(window, "main-window-settings-en");
    installPageFactory({});
}

TEST_F(SettingsPageTest, LanguageSwitchFromTheKeyboardKeepsTheFocusOnThePicker)
{
    installPageFactory(tessynPages());
    MainWindow* window = shell.openWindow();
    MainView* view = viewOf(window);
    view->setPage(Pages::settings);
    ASSERT_TRUE(waitReady(view, Pages::settings));
    auto pickerIn = [](QWidget* page) { return page ? page->findChild<LanguagePicker*>() : nullptr; };

    // In the main window: the arrow moves from "English" to "简体中文" and chooses it.
    QWidget* before = view->pageHost()->page(Pages::settings);
    pickerIn(before)->segment(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    ASSERT_EQ(AppSettings::shared().languageRaw(), "zh-Hans");
    QWidget* rebuilt = view->pageHost()->page(Pages::settings);
    ASSERT_NE(rebuilt, before);
    EXPECT_EQ(QApplication::focusWidget(), pickerIn(rebuilt)->segment(0));

    // In the settings window: Space on "English".
    SettingsWindow* settings = shell.app->showSettings();
    ASSERT_TRUE(activate(settings));
    QWidget* content = settings->content();
    pickerIn(content)->segment(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_EQ(AppSettings::shared().languageRaw(), "en");
    ASSERT_NE(settings->content(), content);
    EXPECT_EQ(QApplication::focusWidget(), pickerIn(settings->content())->segment(1));
    // The main window's page was rebuilt too and keeps its own focus where it was.
    EXPECT_EQ(window->focusWidget(), pickerIn(view->pageHost()->page(Pages::settings))->segment(0));
    installPageFactory({});
}

TEST_F(SettingsPageTest, ClearingTheHistoryWaitsForTheConfirmation)
{
    const std::string folder = shell.folder("Docs");
    writeFile(folder + "/old.txt", "old");
    shell.chosenFolder = folder;
    AppModel& model = shell.model();
    model.choose();
    model.scan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scanning() && model.report(); }));
    model.setSelection({folder + "/old.txt"});
    ASSERT_TRUE(finish(model.trashSelected()));
    ASSERT_EQ(model.history().size(), 1u);

    auto* page = new SettingsPage(model);
    auto frame = framed(page);
    for (bool confirm : {false, true}) {
        QTest::mouseClick(page->clearButton(), Qt::LeftButton);
        EXPECT_TRUE(page->confirmingClear());
        auto* dialog = frame->findChild<QDialog*>();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->findChild<QLabel*>("confirmation-title")->text(),
                  "Clear all local operation records? Your files are not affected.");
        EXPECT_EQ(ActionConfirmation::actionButton(dialog)->text(), "Clear Records");
        shoot(dialog, QStringLiteral("settings-clear-confirmation"));
        (confirm ? ActionConfirmation::actionButton(dialog) : ActionConfirmation::cancelButton(dialog))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(page->confirmingClear());
        EXPECT_EQ(model.history().size(), confirm ? 0u : 1u) << confirm;
    }
    EXPECT_EQ(readFile(model.historyPath()).find("old.txt"), std::string::npos) << "the emptied history is saved";
}
