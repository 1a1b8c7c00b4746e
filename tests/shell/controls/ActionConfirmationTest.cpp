#include "../ShellTestSupport.h"

#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/controls/NativeActionButton.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <optional>
#include "QtWaits.h"

namespace {

class ActionConfirmationTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ActionConfirmation::setSourceWindow(nullptr);
    }

    // A shown top-level window.
    std::unique_ptr<QWidget> window(const char* name)
    {
        auto w = std::make_unique<QWidget>();
        w->setObjectName(name);
        w->resize(500, 300);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        return w;
    }

    struct Answer {
        int calls = 0;
        std::optional<bool> value;
    };

    QDialog* present(Answer& answer, QWidget* target = nullptr)
    {
        QDialog* shown = nullptr;
        ActionConfirmation::present(
            QStringLiteral("将选中的缓存移入废纸篓？"),
            QStringLiteral("3 项。清理可能导致重新下载。可在操作记录恢复；原位置已有文件不会覆盖。"),
            QStringLiteral("移入废纸篓"),
            [&answer](bool confirmed) {
                ++answer.calls;
                answer.value = confirmed;
            },
            target, [&shown](QDialog* d) { shown = d; });
        return shown;
    }
};

} // namespace

TEST_F(ActionConfirmationTest, EscapeAnswersNoAndReturnNeverConfirms)
{
    auto w = window("main");
    Answer answer;
    QPointer<QDialog> dialog = present(answer, w.get());
    ASSERT_TRUE(dialog) << "a shown window gets the confirmation";
    EXPECT_EQ(dialog->parentWidget(), w.get());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(dialog->isVisible());

    QPushButton* cancel = ActionConfirmation::cancelButton(dialog);
    QPushButton* action = ActionConfirmation::actionButton(dialog);
    ASSERT_TRUE(cancel && action);
    EXPECT_LT(cancel->mapTo(dialog, QPoint()).x(), action->mapTo(dialog, QPoint()).x()) << "cancel comes first";
    EXPECT_FALSE(cancel->isDefault() || cancel->autoDefault());
    EXPECT_FALSE(action->isDefault() || action->autoDefault());

    // Return and Enter, whether the dialog or either button has the keyboard, press nothing.
    for (QWidget* target : {static_cast<QWidget*>(dialog.data()), static_cast<QWidget*>(cancel),
                            static_cast<QWidget*>(action)}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(answer.calls, 0) << "Return or Enter answered the confirmation";
    ASSERT_TRUE(dialog && dialog->isVisible());

    QTest::keyClick(dialog, Qt::Key_Escape);
    QTRY_COMPARE(answer.calls, 1);
    EXPECT_EQ(answer.value, false);
    QTRY_VERIFY(!dialog);  // closed and deleted

    // A click on the action button is the only yes.
    Answer second;
    QPointer<QDialog> again = present(second, w.get());
    ASSERT_TRUE(again);
    QTest::mouseClick(ActionConfirmation::actionButton(again), Qt::LeftButton);
    QTRY_COMPARE(second.calls, 1);
    EXPECT_EQ(second.value, true);

    Answer third;
    QPointer<QDialog> cancelled = present(third, w.get());
    QTest::mouseClick(ActionConfirmation::cancelButton(cancelled), Qt::LeftButton);
    QTRY_COMPARE(third.calls, 1);
    EXPECT_EQ(third.value, false);
}

TEST_F(ActionConfirmationTest, NoDialogWithoutAShownWindow)
{
    auto w = window("hidden");
    w->hide();
    Answer answer;
    QDialog* shown = present(answer, w.get());
    EXPECT_EQ(shown, nullptr) << "nothing is shown on a hidden window";
    EXPECT_EQ(answer.calls, 1) << "the answer comes at once";
    EXPECT_EQ(answer.value, false);
    EXPECT_TRUE(w->findChildren<QDialog*>().isEmpty());

    // No recorded window and no active window: no.
    ActionConfirmation::setSourceWindow(nullptr);
    QTRY_COMPARE(QApplication::activeWindow(), nullptr);
    Answer none;
    EXPECT_EQ(present(none), nullptr);
    EXPECT_EQ(none.calls, 1);
    EXPECT_EQ(none.value, false);

    // The recorded window is hidden: it is not used.
    ActionConfirmation::setSourceWindow(w.get());
    EXPECT_NE(ActionConfirmation::targetWindow(), w.get());
}

TEST_F(ActionConfirmationTest, PressedButtonChoosesTheWindow)
{
    auto first = window("first");
    auto second = window("second");
    auto* layout = new QVBoxLayout(second.get());
    int runs = 0;
    auto* button = new NativeActionButton(QStringLiteral("移入废纸篓"), NativeActionButton::Emphasis::primary,
                                          [&runs] { ++runs; }, second.get());
    layout->addWidget(button);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ActionConfirmation::sourceWindow(), second.get()) << "the press records its window before the action";
    Answer answer;
    QPointer<QDialog> dialog = present(answer);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->parentWidget(), second.get()) << "the confirmation attaches to the pressed button's window";
    QTest::keyClick(dialog, Qt::Key_Escape);
    QTRY_COMPARE(answer.calls, 1);

    // The window goes away: the source is forgotten.
    second.reset();
    EXPECT_EQ(ActionConfirmation::sourceWindow(), nullptr);
}

TEST_F(ActionConfirmationTest, TextsFollowTheLanguage)
{
    auto w = window("texts");
    Answer answer;
    QPointer<QDialog> english = present(answer, w.get());
    ASSERT_TRUE(english);
    EXPECT_EQ(ActionConfirmation::cancelButton(english)->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(ActionConfirmation::actionButton(english)->text(), QStringLiteral("Move to Trash"));
    auto* title = english->findChild<QLabel*>(QStringLiteral("confirmation-title"));
    auto* detail = english->findChild<QLabel*>(QStringLiteral("confirmation-detail"));
    ASSERT_TRUE(title && detail);
    EXPECT_EQ(title->text(), QStringLiteral("Move the selected cache files to the Trash?"));
    EXPECT_TRUE(detail->text().startsWith(QStringLiteral("Items: 3."))) << detail->text().toStdString();
    QTest::keyClick(english, Qt::Key_Escape);
    QTRY_COMPARE(answer.calls, 1);

    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    Answer chinese;
    QPointer<QDialog> dialog = present(chinese, w.get());
    ASSERT_TRUE(dialog);
    EXPECT_EQ(ActionConfirmation::cancelButton(dialog)->text(), QStringLiteral("取消"));
    EXPECT_EQ(ActionConfirmation::actionButton(dialog)->text(), QStringLiteral("移入废纸篓"));
    QTest::keyClick(dialog, Qt::Key_Escape);
    QTRY_COMPARE(chinese.calls, 1);
}

TEST_F(ActionConfirmationTest, WindowClosingUnderTheDialogAnswersNo)
{
    auto w = window("closing");
    Answer answer;
    QPointer<QDialog> dialog = present(answer, w.get());
    ASSERT_TRUE(dialog);
    w.reset();  // the window and its dialog go away without an answer from the user
    EXPECT_FALSE(dialog);
    EXPECT_EQ(answer.calls, 1) << "the waiting caller is still answered, once";
    EXPECT_EQ(answer.value, false);
}
