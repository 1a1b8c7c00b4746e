#include "../../shell/ShellTestSupport.h"

#include "TestSupport.h"
#include "pages/apps/ApplicationList.h"
#include "shell/ApplicationIcons.h"

#include <QScrollBar>
#include <set>
#include "QtWaits.h"

namespace {

class ApplicationListTest : public ShellTest {
protected:
    void TearDown() override { ApplicationIcons::setReader(nullptr); }
};

} // namespace

// Icons are read only for the rows that stay in view, each once: painting again reads nothing,
// and rows scrolled past on the way to the end are never read.
TEST_F(ApplicationListTest, ReadsTheIconsOfTheRowsInViewOnce)
{
    TempHome home;
    std::multiset<QString> reads;
    ApplicationIcons::setReader([&](const QString& path) {
        reads.insert(path);
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::red);
        return image;
    });
    std::vector<InstalledApp> apps;
    for (int i = 0; i < 300; ++i) {
        apps.push_back({home.path("Applications/App" + std::to_string(i) + ".app"), "App" + std::to_string(i), "org.example.app", "1:1", 1});
        makeDirs(apps.back().path);
    }
    ApplicationList list;
    list.resize(700, 400);
    list.setApps(apps);
    list.show();
    auto inView = [&] {
        int first = list.indexAt(QPoint(0, 0)).row(), last = list.indexAt(QPoint(0, list.viewport()->height() - 1)).row();
        return std::make_pair(first, last < 0 ? int(apps.size()) - 1 : last);
    };
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        const size_t before = reads.size();
        auto [first, last] = inView();
        QTRY_VERIFY(list.iconLoaded(first) && list.iconLoaded(last));
        for (int i = 0; i < 5; ++i) list.viewport()->repaint();
        EXPECT_EQ(reads.size() - before, size_t(last - first + 1)) << "one read per row in view";
        for (int row = first; row <= last; ++row) EXPECT_EQ(reads.count(QString::fromStdString(apps[size_t(row)].path)), 1u);
        for (int step = 1; step <= 10; ++step) list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum() * step / 10);
    }
}
