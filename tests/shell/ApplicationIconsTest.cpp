#include "ShellTestSupport.h"

#include "TestSupport.h"
#include "shell/ApplicationIcons.h"

#include <QElapsedTimer>
#include <QImageWriter>
#include <QTest>
#include <QVBoxLayout>
#include "QtWaits.h"

namespace {

class ApplicationIconsTest : public ShellTest {
protected:
    TempHome home;
    QElapsedTimer clock;
    std::vector<std::pair<QString, qint64>> reads;  // path and time in ns

    void SetUp() override
    {
        ShellTest::SetUp();
        clock.start();
        ApplicationIcons::setReader([this](const QString& path) {
            reads.emplace_back(path, clock.nsecsElapsed());
            QImage image(16, 16, QImage::Format_ARGB32);
            image.fill(Qt::red);
            return image;
        });
    }

    void TearDown() override { ApplicationIcons::setReader(nullptr); }

    QString bundle(int n)
    {
        std::string path = home.path("Applications/App" + std::to_string(n) + ".app");
        makeDirs(path);
        return QString::fromStdString(path);
    }
};

} // namespace

TEST_F(ApplicationIconsTest, KeysAndImmediateReads)
{
    EXPECT_EQ(ApplicationIcons::key(QStringLiteral("/Applications/A.app"), 0), QStringLiteral("/Applications/A.app|978307200.0"));
    EXPECT_EQ(ApplicationIcons::key(QStringLiteral("/A.app"), 0.25), QStringLiteral("/A.app|978307200.25"));
    EXPECT_NE(ApplicationIcons::key(QStringLiteral("/A.app"), 1), ApplicationIcons::key(QStringLiteral("/A.app"), 2));

    QString a = bundle(1);
    ApplicationIcons::image(a, 10);
    ApplicationIcons::image(a, 10);
    EXPECT_EQ(reads.size(), 1u) << "the second request is served from the cache";
    ApplicationIcons::image(a, 11);
    EXPECT_EQ(reads.size(), 2u) << "a new modification time is a new key";

    QIcon missing = ApplicationIcons::image(QString::fromStdString(home.path("Gone.app")), 1);
    EXPECT_EQ(reads.size(), 2u) << "a bundle that is gone is not read";
    EXPECT_FALSE(missing.isNull());
    EXPECT_TRUE(ApplicationIcons::cached(ApplicationIcons::key(QString::fromStdString(home.path("Gone.app")), 1)))
        << "the fallback is cached like an icon";
}

TEST_F(ApplicationIconsTest, CacheDropsOldEntriesBeyondItsLimit)
{
    std::vector<QString> bundles;
    for (int i = 0; i <= ApplicationIcons::cacheLimit; ++i) bundles.push_back(bundle(i));
    for (const QString& b : bundles) ApplicationIcons::image(b, 5);
    ASSERT_EQ(reads.size(), size_t(ApplicationIcons::cacheLimit + 1));
    EXPECT_FALSE(ApplicationIcons::cached(ApplicationIcons::key(bundles.front(), 5))) << "129 icons do not fit";
    EXPECT_TRUE(ApplicationIcons::cached(ApplicationIcons::key(bundles.back(), 5)));
    ApplicationIcons::image(bundles.front(), 5);
    EXPECT_EQ(reads.size(), size_t(ApplicationIcons::cacheLimit + 2)) << "a dropped icon is read again";
}

TEST_F(ApplicationIconsTest, QueuedReadsAreSpacedAndInOrder)
{
    std::vector<QString> bundles;
    for (int i = 0; i < 10; ++i) bundles.push_back(bundle(100 + i));
    std::vector<QString> delivered;
    qint64 asked = clock.nsecsElapsed();
    std::vector<std::shared_ptr<ApplicationIcons::Load>> loads;
    for (const QString& b : bundles)
        loads.push_back(ApplicationIcons::load(b, 1, [&delivered, b](const QIcon&) { delivered.push_back(b); }));
    // The same application again: read once, the second is served from the cache when its turn comes.
    loads.push_back(ApplicationIcons::load(bundles[0], 1, [&delivered](const QIcon&) { delivered.push_back("again"); }));
    EXPECT_TRUE(reads.empty()) << "nothing is read synchronously";

    QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), size_t(11), 5000);
    ASSERT_EQ(reads.size(), 10u);
    EXPECT_GE(reads[0].second - asked, 25'000'000) << "the first load on an idle queue still waits 25 ms";
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].first, bundles[i]) << "reads follow the order of the requests";
        if (i > 0) {
            EXPECT_GE(reads[i].second - reads[i - 1].second, 25'000'000) << "read " << i;
        }
    }
    EXPECT_EQ(delivered.back(), QStringLiteral("again"));

    // A cached icon comes back at once, without a queued load.
    bool immediate = false;
    EXPECT_EQ(ApplicationIcons::load(bundles[3], 1, [&immediate](const QIcon&) { immediate = true; }), nullptr);
    EXPECT_TRUE(immediate);
}

TEST_F(ApplicationIconsTest, CancelledLoadsSkipTheirRead)
{
    QString a = bundle(200), b = bundle(201), c = bundle(202);
    std::vector<QString> delivered;
    auto first = ApplicationIcons::load(a, 1, [&](const QIcon&) { delivered.push_back(a); });
    auto second = ApplicationIcons::load(b, 1, [&](const QIcon&) { delivered.push_back(b); });
    auto third = ApplicationIcons::load(c, 1, [&](const QIcon&) { delivered.push_back(c); });
    second->cancel();
    QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), size_t(2), 5000);
    EXPECT_EQ(delivered, (std::vector<QString>{a, c}));
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].first, c) << "the loads behind a cancelled one go on";
    EXPECT_TRUE(second->finished() && second->cancelled());
    EXPECT_FALSE(ApplicationIcons::cached(ApplicationIcons::key(b, 1))) << "a cancelled load leaves the cache alone";

    // Cancelling the load that is waiting its turn ends its wait at once.
    auto lone = ApplicationIcons::load(b, 2, [&](const QIcon&) { delivered.push_back("lone"); });
    lone->cancel();
    QTest::qWait(60); // past the spacing of reads, to show none follows
    EXPECT_EQ(reads.size(), 2u);
    EXPECT_EQ(delivered.size(), 2u);
}

TEST_F(ApplicationIconsTest, RowViewWaitsForSixtyMilliseconds)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* shown = new ApplicationIconView();
    auto* brief = new ApplicationIconView();
    shown->setFixedSize(38, 38);
    brief->setFixedSize(38, 38);
    layout->addWidget(shown);
    layout->addWidget(brief);
    QString a = bundle(300), b = bundle(301);
    shown->setApplication(a, 1);
    brief->setApplication(b, 1);
    window.show();
    brief->hide();  // gone from the screen before its 60 ms are up: never asks
    EXPECT_FALSE(shown->hasLoadedIcon());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTRY_VERIFY_WITH_TIMEOUT(shown->hasLoadedIcon(), 3000);
    QTest::qWait(120); // past the hidden row's 60 ms, to show it never asks
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].first, a);
    EXPECT_FALSE(brief->hasLoadedIcon());

    // A new modification time restarts the row: placeholder first, then the new icon.
    shown->setApplication(a, 2);
    EXPECT_FALSE(shown->hasLoadedIcon());
    QTRY_VERIFY_WITH_TIMEOUT(shown->hasLoadedIcon(), 3000);
    EXPECT_EQ(reads.size(), 2u);

    // Back to the first key: the cached icon shows at once, nothing is read.
    shown->setApplication(a, 1);
    EXPECT_TRUE(shown->hasLoadedIcon());
    EXPECT_EQ(reads.size(), 2u);
}

TEST_F(ApplicationIconsTest, BundleIconFiles)
{
    ApplicationIcons::setReader(nullptr);
    QString app = QString::fromStdString(home.path("Applications/Icon.app"));
    makeDirs(home.path("Applications/Icon.app/Contents/Resources"));
    writeFile(home.path("Applications/Icon.app/Contents/Info.plist"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIconFile</key><string>Shiny</string></dict></plist>\n");
    EXPECT_EQ(ApplicationIcons::iconFile(app), QString()) << "the named file does not exist yet";

    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30));
    QImageWriter writer(app + QStringLiteral("/Contents/Resources/Shiny.icns"), "icns");
    ASSERT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    EXPECT_EQ(ApplicationIcons::iconFile(app), app + QStringLiteral("/Contents/Resources/Shiny.icns"));
    QImage read = ApplicationIcons::readBundleIcon(app);
    ASSERT_FALSE(read.isNull()) << "the .icns is read through the image-format plugin";
    EXPECT_EQ(QColor(read.pixel(read.width() / 2, read.height() / 2)).green(), 200);

    QString plain = QString::fromStdString(home.path("Applications/Plain.app"));
    makeDirs(home.path("Applications/Plain.app/Contents/Resources"));
    QImageWriter(plain + QStringLiteral("/Contents/Resources/AppIcon.icns"), "icns").write(image);
    EXPECT_EQ(ApplicationIcons::iconFile(plain), plain + QStringLiteral("/Contents/Resources/AppIcon.icns"));

    QString bare = QString::fromStdString(home.path("Applications/Bare.app"));
    makeDirs(home.path("Applications/Bare.app"));
    EXPECT_TRUE(ApplicationIcons::readBundleIcon(bare).isNull());
    EXPECT_FALSE(ApplicationIcons::image(bare, 1).isNull()) << "without an icon file the generic icon is used";
}
