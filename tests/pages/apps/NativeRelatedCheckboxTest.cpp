#include "../../shell/ShellTestSupport.h"

#include "pages/apps/NativeRelatedCheckbox.h"
#include "shell/app/AppSettings.h"

#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using RelatedCheckboxTest = ShellTest;

TEST_F(RelatedCheckboxTest, TitleFollowsTheLanguageAndOnlyClicksAreWritten)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* box = new NativeRelatedCheckbox(QStringLiteral("related-0"));
    layout->addWidget(box);
    window.show();
    EXPECT_EQ(box->objectName(), QStringLiteral("related-0"));
    EXPECT_EQ(box->text(), QStringLiteral("Move this related item to the Trash"));

    QSignalSpy spy(box, &NativeRelatedCheckbox::selectionWritten);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(spy.at(0).at(0).toBool());
    box->setSelected(false);
    EXPECT_FALSE(box->selected());
    EXPECT_EQ(spy.count(), 1) << "an external change is shown, not written back";

    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    EXPECT_EQ(box->text(), QStringLiteral("移走此关联项"));
    window.setEnabled(false);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_EQ(spy.count(), 1);
}
