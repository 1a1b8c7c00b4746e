#include "../shell/MainWindowTestSupport.h"

#include "audit/RuntimeAudit.h"
#include "pages/PageCatalog.h"
#include "shell/window/AppMenus.h"
#include "shell/app/AppSettings.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/MainView.h"
#include "shell/window/MainWindow.h"
#include "shell/ModelServices.h"

#include <QAccessible>
#include <QDir>
#include <QMetaEnum>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <set>

using RuntimeAudit::Element;

namespace {

const QStringList pageOrder{QStringLiteral("概览"), QStringLiteral("内存"), QStringLiteral("文件"),
                            QStringLiteral("应用与缓存"), QStringLiteral("操作记录"), QStringLiteral("设置")};

// Waits that keep a run short; the poll limits stay as they are.
RuntimeAudit::Timing quick()
{
    RuntimeAudit::Timing timing;
    timing.afterFolder = timing.afterFront = timing.afterLayout = timing.afterPage = 0;
    return timing;
}

std::set<QString> filesIn(const QString& folder)
{
    std::set<QString> names;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) names.insert(name);
    return names;
}

std::set<QString> pictures(const QStringList& layouts, qsizetype pages)
{
    std::set<QString> names;
    for (const QString& layout : layouts)
        for (qsizetype i = 0; i < pages; ++i) names.insert(layout + QLatin1Char('-') + pageOrder[i] + QStringLiteral(".png"));
    return names;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

std::optional<QVariant> storedLayout() { return AppSettings::shared().storedValue(AppSettings::layoutKey); }

// Roles of the controls a user operates (Qt names the push-button role "Button").
bool isControl(const std::optional<QString>& role)
{
    return role && QStringList{"Button", "CheckBox", "RadioButton", "ComboBox", "ButtonMenu", "Slider"}.contains(*role);
}

class RuntimeAuditTest : public ShellTest {
public:
    std::unique_ptr<ShellHarness> harness;
    MainWindow* window = nullptr;
    QString out;

    void SetUp() override
    {
        ShellTest::SetUp();
        harness = std::make_unique<ShellHarness>();
        harness->chooser = ModelServices::chooseFolder;
        out = QString::fromStdString(harness->home.path("audit-out"));
    }
    void TearDown() override
    {
        AppSettings::shared().restoreValue(AppSettings::layoutKey, std::nullopt);
        harness.reset();
        installPageFactory({});
    }

    void open() { window = harness->openWindow(); }

    // Runs the audit to its end.
    void audit(const RuntimeAudit::Timing& timing = {}, const QString& folder = {})
    {
        QFuture<void> run = RuntimeAudit::run(harness->model(), {folder.isEmpty() ? out : folder, false}, timing);
        ASSERT_TRUE(QTest::qWaitFor([&] { return run.isFinished(); }, 60000)) << "the run did not end";
        EXPECT_FALSE(run.isCanceled());
    }
};

TEST_F(RuntimeAuditTest, CompleteRunWritesEveryReportAndPutsTheLayoutBack)
{
    installPageFactory(tessynPages());
    AppSettings::shared().restoreValue(AppSettings::layoutKey, std::nullopt);
    open();
    // Files of an earlier run: replaced where the run writes the same name, kept otherwise.
    QDir().mkpath(out);
    writeFile((out + "/status.txt").toStdString(), "stale and longer than the new one");
    writeFile((out + "/earlier.txt").toStdString(), "kept");
    audit();

    std::set<QString> expected = pictures({QStringLiteral("sidebar"), QStringLiteral("top")}, 6);
    for (const char* name : {"menus.txt", "tree.txt", "navigation.json", "directory-panel.txt", "status.txt", "earlier.txt"})
        expected.insert(QString::fromLatin1(name));
    EXPECT_EQ(filesIn(out), expected);
    EXPECT_EQ(contents(out + "/status.txt"), QByteArray("complete\n"));
    EXPECT_EQ(contents(out + "/directory-panel.txt"),
              QByteArray("native directory panel opened and cancelled; scan disabled without root\n"));
    EXPECT_FALSE(harness->model().root());
    EXPECT_EQ(storedLayout(), std::nullopt) << "no layout was stored before the run";
    EXPECT_EQ(window->view()->page(), QStringLiteral("设置"));

    EXPECT_EQ(contents(out + "/menus.txt"),
              QByteArray("Tessyn : New Window enabled=true,  enabled=true, About Tessyn enabled=true, "
                         "Check for Updates… enabled=true, "
                         "Settings… enabled=true,  enabled=true, Quit Tessyn enabled=true\n"
                         "Organise : Choose Folder… enabled=true, Scan Chosen Folder enabled=false\n"
                         "Pages : Overview enabled=true, Memory enabled=true, Files enabled=true, "
                         "Apps & Caches enabled=true, History enabled=true, Settings enabled=true\n"
                         "Layout : Sidebar enabled=true, Top Bar enabled=true"));

    // The measurements: both layouts, three rounds, the pages in order, keys sorted and the
    // page identifiers written as they are.
    QByteArray json = contents(out + "/navigation.json");
    EXPECT_TRUE(json.contains("\"page\": \"应用与缓存\""));
    qsizetype first = json.indexOf('{');
    qsizetype last = -1;
    for (const char* key : {"\"contentMilliseconds\"", "\"layout\"", "\"milliseconds\"", "\"page\"", "\"round\""}) {
        qsizetype at = json.indexOf(key, first);
        EXPECT_GT(at, last) << key;
        last = at;
    }
    std::vector<RuntimeAudit::Result> results = RuntimeAudit::resultsFromJson(json);
    ASSERT_EQ(results.size(), 36u);
    for (size_t i = 0; i < results.size(); ++i) {
        const auto& result = results[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(result.layout, i < 18 ? QStringLiteral("sidebar") : QStringLiteral("top"));
        EXPECT_EQ(result.round, int64_t(i % 18 / 6));
        EXPECT_EQ(result.page, pageOrder[qsizetype(i % 6)]);
        EXPECT_GE(result.milliseconds, 0);
        EXPECT_GT(result.contentMilliseconds, result.milliseconds + 4.9);
    }

    // The window as the run saw it, and every page the run mounted: named controls only.
    std::vector<Element> walked = RuntimeAudit::elements(window, 0);
    QList<QByteArray> lines = contents(out + "/tree.txt").split('\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.front(), QByteArray("MainWindow | Window | Tessyn · Memory & Files | main-window"));
    for (const QByteArray& line : lines) EXPECT_EQ(line.count(" | "), 3) << line.constData();
    EXPECT_FALSE(walked.empty());
    // Every control a page shows has a name: walked page by page, since only one is on screen.
    CachedPageHost* host = window->view()->pageHost();
    EXPECT_EQ(host->pageIds().size(), 6);
    std::vector<std::pair<QString, QWidget*>> scopes{{QStringLiteral("window"), window}};
    for (const QString& id : host->pageIds()) scopes.emplace_back(id, host->page(id));
    for (const auto& [scope, root] : scopes) {
        for (QWidget* control : root->findChildren<QWidget*>()) {
            // Qt's own helpers (the toolbar's overflow button) are not the program's controls.
            if (!control->isVisibleTo(root) || control->objectName().startsWith("qt_")) continue;
            QAccessibleInterface* element = QAccessible::queryAccessibleInterface(control);
            if (!element) continue;
            const char* role = QMetaEnum::fromType<QAccessible::Role>().valueToKey(element->role());
            if (!role || !isControl(QString::fromLatin1(role))) continue;
            EXPECT_FALSE(element->text(QAccessible::Name).isEmpty())
                << scope.toStdString() << ": " << control->metaObject()->className() << " "
                << control->objectName().toStdString();
        }
    }

    // Pictures: real PNGs of a drawn window, and the layouts differ.
    for (const QString& name : pictures({QStringLiteral("sidebar"), QStringLiteral("top")}, 6)) {
        QImage image(out + QLatin1Char('/') + name);
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        QRgb corner = image.pixel(0, 0);
        bool varied = false;
        for (int y = 0; y < image.height() && !varied; y += 3)
            for (int x = 0; x < image.width() && !varied; x += 3) varied = image.pixel(x, y) != corner;
        EXPECT_TRUE(varied) << name.toStdString() << " is one flat colour";
    }
    EXPECT_NE(QImage(out + "/sidebar-内存.png"), QImage(out + "/top-内存.png"));
}

// Each way a run can fail: what it leaves in the output folder, and the layout put back.
TEST_F(RuntimeAuditTest, FailedRunsLeaveTheirErrorAndTheLayoutAsItWas)
{
    struct Case {
        const char* name;
        std::function<void(RuntimeAuditTest&)> arrange;
        QByteArray error;  // exact text, or for the file system's errors the file it names
        std::set<QString> files;
        bool exact = true;
        bool chinese = false;
        QString folder = {};
    };
    const QString sidebar = QStringLiteral("sidebar");
    auto with = [](std::set<QString> files, std::initializer_list<const char*> more) {
        for (const char* name : more) files.insert(QString::fromUtf8(name));
        return files;
    };
    std::vector<Case> cases{
        {"disabled page item",
         [](RuntimeAuditTest& t) { t.harness->app->menus().action(QStringLiteral("内存"))->setEnabled(false); },
         "missingControl(\"内存\")", with(pictures({sidebar}, 1), {"menus.txt", "tree.txt", "error.txt"}), true, true},
        {"page that never mounts",
         [](RuntimeAuditTest& t) {
             QObject::connect(t.window->view(), &MainView::readyPageChanged, t.window, [] {
                 if (RuntimeAudit::contentPage == QStringLiteral("文件")) RuntimeAudit::contentPage.reset();
             });
         },
         "timeout(\"content-文件\")", with(pictures({sidebar}, 2), {"menus.txt", "tree.txt", "error.txt"})},
        {"folder chooser that shows no panel",
         [](RuntimeAuditTest& t) {
             t.harness->chooser = nullptr;
             t.harness->chosenFolder = t.harness->folder("Chosen");
         },
         "missingControl(\"directory-panel cancellation\")",
         with(pictures({sidebar, QStringLiteral("top")}, 6), {"menus.txt", "tree.txt", "navigation.json", "error.txt"})},
        {"no visible window", [](RuntimeAuditTest& t) { t.window->hide(); }, "missingWindow", {"error.txt"}},
        {"unwritable report", [](RuntimeAuditTest& t) { QDir().mkpath(t.out + "/menus.txt"); }, "menus.txt",
         {"menus.txt", "error.txt"}, false},
        {"unwritable measurements", [](RuntimeAuditTest& t) { QDir().mkpath(t.out + "/navigation.json"); },
         "navigation.json",
         with(pictures({sidebar, QStringLiteral("top")}, 6), {"menus.txt", "tree.txt", "navigation.json", "error.txt"}),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        if (c.chinese) setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
        setSetting(AppSettings::layoutKey, QStringLiteral("top"));
        open();
        c.arrange(*this);
        audit(quick());

        EXPECT_EQ(filesIn(out), c.files);
        QByteArray error = contents(out + "/error.txt");
        if (c.exact) EXPECT_EQ(error, c.error);
        else EXPECT_TRUE(error.contains(c.error)) << error.constData();
        EXPECT_EQ(storedLayout(), QVariant(QStringLiteral("top")));
        // The tree is of what is on screen: not the hidden sidebar or the gone placeholder.
        QByteArray tree = contents(out + "/tree.txt");
        EXPECT_TRUE(!tree.contains(" | sidebar\n") && !tree.contains("page-loading") && tree.count(" | nav-") <= 6);
        if (!c.chinese) continue;
        EXPECT_EQ(contents(out + "/menus.txt"),
                      QByteArray("Tessyn : 新建窗口 enabled=true,  enabled=true, 关于 Tessyn enabled=true, "
                                 "检查更新… enabled=true, "
                                 "设置… enabled=true,  enabled=true, 退出 Tessyn enabled=true\n"
                                 "整理 : 选择文件夹… enabled=true, 扫描所选目录 enabled=false\n"
                                 "页面 : 概览 enabled=true, 内存 enabled=false, 文件 enabled=true, "
                                 "应用与缓存 enabled=true, 操作记录 enabled=true, 设置 enabled=true\n"
                                 "布局 : 侧栏工作台 enabled=true, 顶部导航 enabled=true"));
    }

    // An output folder that cannot be made: nothing is written anywhere, the layout untouched.
    TearDown();
    SetUp();
    setSetting(AppSettings::layoutKey, QStringLiteral("top"));
    open();
    QString blocker = QString::fromStdString(writeFile(harness->home.path("blocker"), "x"));
    audit(quick(), blocker + "/audit");
    EXPECT_EQ(contents(blocker), QByteArray("x"));
    EXPECT_EQ(storedLayout(), QVariant(QStringLiteral("top")));
}

// A user closing the window, or the program ending, in the middle of a run.
TEST_F(RuntimeAuditTest, RunsCutShortPutTheLayoutBack)
{
    setSetting(AppSettings::layoutKey, QStringLiteral("top"));
    open();
    QObject::connect(window->view(), &MainView::pageChanged, window, [this](const QString& page) {
        if (page == QStringLiteral("文件")) QTimer::singleShot(0, window, &QWidget::close);
    });
    audit(quick());
    EXPECT_FALSE(contents(out + "/error.txt").isEmpty());
    EXPECT_FALSE(QFile::exists(out + "/status.txt"));
    EXPECT_EQ(storedLayout(), QVariant(QStringLiteral("top")));

    TearDown();
    SetUp();
    setSetting(AppSettings::layoutKey, QStringLiteral("top"));
    open();
    QFuture<void> run = RuntimeAudit::run(harness->model(), {out, true}, quick());
    ASSERT_TRUE(QTest::qWaitFor([] { return storedLayout() == QVariant(QStringLiteral("sidebar")); }, 10000));
    harness.reset();
    EXPECT_TRUE(run.isFinished() && run.isCanceled());
    EXPECT_EQ(storedLayout(), QVariant(QStringLiteral("top")));
}

TEST(RuntimeAuditOptions, ArgumentsAskForARunOnlyWithAFolder)
{
    struct Case {
        QStringList arguments;
        std::optional<QString> folder;
        bool cold;
    };
    const QString output = QStringLiteral("--ui-audit-output");
    const QString cold = QStringLiteral("--ui-audit-cold-apps");
    const std::vector<Case> cases{
        {{"tessyn"}, std::nullopt, false},
        {{"tessyn", output}, std::nullopt, false},
        {{"tessyn", cold}, std::nullopt, false},
        {{"tessyn", output, "out"}, QStringLiteral("out"), false},
        {{"tessyn", cold, output, "a", output, "b"}, QStringLiteral("a"), true},
        {{"tessyn", output, cold}, cold, true},
        {{output, "/tmp/x", cold}, QStringLiteral("/tmp/x"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        auto request = RuntimeAudit::requestFrom(c.arguments);
        ASSERT_EQ(request.has_value(), c.folder.has_value());
        if (!request) continue;
        EXPECT_EQ(request->outputFolder, *c.folder);
        EXPECT_EQ(request->coldApps, c.cold);
    }
}

using AuditReportTest = ShellTest;

TEST_F(AuditReportTest, SmallTreesMenusAndMeasurements)
{
    // A chain 30 widgets deep under a window: the walk stops below depth 23.
    QWidget root;
    root.setObjectName(QStringLiteral("root"));
    QWidget* parent = &root;
    for (int depth = 1; depth < 30; ++depth) {
        auto* child = new QWidget(parent);
        if (depth == 23) child->setObjectName(QStringLiteral("deepest"));
        parent = child;
    }
    auto* label = new QLabel(QStringLiteral("Hello"), &root);
    label->setObjectName(QStringLiteral("greeting"));
    new QPushButton(&root);
    // Left out, as is a window not shown.
    (new QLabel(QStringLiteral("Hidden"), &root))->hide();
    EXPECT_TRUE(RuntimeAudit::elements(&root, 0).empty());
    root.show();

    std::vector<Element> walk = RuntimeAudit::elements(&root, 0);
    ASSERT_EQ(walk.size(), 24u + 2u);
    EXPECT_EQ(walk[23].identifier, QStringLiteral("deepest"));
    EXPECT_TRUE(RuntimeAudit::elements(&root, 24).empty());
    EXPECT_EQ(RuntimeAudit::elements(&root, 23).size(), 1u);
    EXPECT_TRUE(RuntimeAudit::elements(static_cast<QObject*>(nullptr), 0).empty());

    QList<QByteArray> lines = RuntimeAudit::treeText(walk).split('\n');
    EXPECT_EQ(lines[0], QByteArray("QWidget | Client | nil | root"));
    EXPECT_EQ(lines[1], QByteArray("QWidget | Client | nil | nil"));
    EXPECT_EQ(lines[24], QByteArray("QLabel | StaticText | Hello | greeting"));
    EXPECT_EQ(lines[25], QByteArray("QPushButton | Button | nil | nil"));
    // An empty text is written as it is, unlike an absent one.
    EXPECT_EQ(RuntimeAudit::treeText({{QStringLiteral("Field"), std::nullopt, QString(""), QString("")}}),
              QByteArray("Field | nil |  | "));
    EXPECT_FALSE(RuntimeAudit::treeText(walk).endsWith('\n'));

    // Menus: a top-level item without a submenu, a separator, a disabled item, an ampersand.
    QMenuBar bar;
    QMenu tools(QStringLiteral("Tools && Help"));
    tools.addAction(QStringLiteral("&Open"));
    tools.addSeparator();
    tools.addAction(QStringLiteral("Close"))->setEnabled(false);
    bar.addMenu(&tools);
    bar.addAction(QStringLiteral("Plain"));
    EXPECT_EQ(RuntimeAudit::menusText(&bar),
              QByteArray("Tools & Help : Open enabled=true,  enabled=true, Close enabled=false\nPlain : "));
    EXPECT_EQ(RuntimeAudit::menusText(nullptr), QByteArray());

    std::vector<RuntimeAudit::Result> results{{QStringLiteral("top"), QStringLiteral("内存"), 2, 12.0, 17.25}};
    QByteArray json = RuntimeAudit::navigationJson(results);
    EXPECT_TRUE(json.contains("\"milliseconds\": 12.0")) << json.constData();
    auto back = RuntimeAudit::resultsFromJson(json);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].page, QStringLiteral("内存"));
    EXPECT_EQ(back[0].round, 2);
    EXPECT_EQ(back[0].contentMilliseconds, 17.25);
}

} // namespace
