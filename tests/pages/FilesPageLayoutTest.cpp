#include "FilesPageHarness.h"

#include "pages/DisclosureGroup.h"
#include "pages/MoveConfirmationSheet.h"
#include "pages/SpaceSummaryView.h"
#include "shell/AppSettings.h"
#include "shell/NativeActionButton.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>

// The files page in its main states, in both languages and both appearances: every visible
// one-line label and button gets the width its text needs. With TESSYN_SHOT_DIR set, the
// pictures are written there for a person to look at.
namespace {

class FilesPageLayoutTest : public ShellTest {};

QStringList clipped(QWidget* root)
{
    QStringList out;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->isVisible() && !button->text().isEmpty() && button->width() < button->sizeHint().width())
            out << QStringLiteral("button '%1' %2 < %3").arg(button->text()).arg(button->width()).arg(button->sizeHint().width());
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->wordWrap() || label->text().isEmpty() || !label->toolTip().isEmpty()) continue;
        int needed = label->fontMetrics().horizontalAdvance(label->text());
        if (label->contentsRect().width() < needed)
            out << QStringLiteral("label '%1' %2 < %3").arg(label->text()).arg(label->contentsRect().width()).arg(needed);
    }
    return out;
}

void save(QWidget* widget, const QString& name)
{
    QString dir = qEnvironmentVariable("TESSYN_SHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

TEST_F(FilesPageLayoutTest, EveryStateFitsInBothLanguagesAndAppearances)
{
    for (const char* language : {"en", "zh-Hans"}) {
        for (const char* appearance : {"light", "dark"}) {
            setSetting(AppSettings::languageKey, language);
            setSetting(AppSettings::appearanceKey, appearance);
            QString suffix = QStringLiteral("-%1-%2").arg(language, appearance);
            SCOPED_TRACE(suffix.toStdString());
            FilesPageHarness h(QSize(900, 680));
            auto check = [&](const char* state) {
                QCoreApplication::processEvents();
                QStringList faults = clipped(h.window.get());
                EXPECT_TRUE(faults.isEmpty()) << state << ": " << faults.join("; ").toStdString();
                save(h.window.get(), QString::fromUtf8(state) + suffix);
            };
            check("empty");

            // A long folder name, to be shortened in the middle of the header.
            std::string folder = h.home.path("Downloads of the whole family from the old laptop and the new phone 2019-2024");
            writeFiles(folder, 30);
            h.chosen = folder;
            click(h.page->chooseButton());
            click(h.page->scanButton());
            check("scanning");
            ASSERT_TRUE(QTest::qWaitFor([&] { return !h.model->scanning(); }, 30000));

            auto report = syntheticReport(5000);
            report->skipped = 4;
            report->warnings = {"locked.db：Permission denied", "cache：Permission denied"};
            h.model->setReport(report);
            h.model->setFilter("文档");
            ASSERT_TRUE(h.settled());
            h.model->setSelection({report->files[3].path, report->files[9].path, report->files[4000].path});
            check("results-kind");
            h.page->spaceSummary()->group()->setExpanded(true);
            h.page->scanNotes()->setExpanded(true);
            check("summary-open");
            h.page->spaceSummary()->group()->setExpanded(false);
            h.page->scanNotes()->setExpanded(false);

            h.model->setFilter("大文件");
            ASSERT_TRUE(h.settled());
            check("results-large");

            click(h.page->reviewButton());
            MoveConfirmationSheet* sheet = h.page->sheet();
            ASSERT_NE(sheet, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
            QStringList faults = clipped(sheet);
            EXPECT_TRUE(faults.isEmpty()) << "sheet: " << faults.join("; ").toStdString();
            save(sheet, QStringLiteral("sheet") + suffix);
            sheet->reject();

            // A stopped duplicate search with two groups, one of them wholly selected.
            auto duplicates = std::make_shared<DuplicateReport>();
            for (int copies : {3, 25}) {
                DuplicateGroup group;
                group.id = std::string(64, copies == 3 ? 'a' : 'b');
                for (int i = 0; i < copies; ++i)
                    group.files.push_back(report->files[static_cast<size_t>(copies * 40 + i)]);
                duplicates->groups.push_back(group);
            }
            duplicates->cancelled = true;
            duplicates->warnings = {"locked.bin：Permission denied"};
            h.model->setDuplicateReport(duplicates);
            h.model->setFilter("重复文件");
            ASSERT_TRUE(h.settled());
            AppModel::PathSet whole;
            for (const FileEntry& file : duplicates->groups[0].files) whole.insert(file.path);
            h.model->setSelection(whole);
            check("duplicates");
        }
    }
}
