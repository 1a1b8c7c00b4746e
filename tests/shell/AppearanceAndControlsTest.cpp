#include "MainWindowTestSupport.h"
#include "ShellTestSupport.h"

#include "shell/style/AppAppearance.h"
#include "shell/app/AppSettings.h"
#include "shell/app/AppVersion.h"
#include "shell/style/BrandArtwork.h"
#include "shell/controls/LanguagePicker.h"
#include "shell/window/LayoutStyle.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "shell/window/NavigationBus.h"
#include "shell/window/NavigationWindowProbe.h"
#include "shell/PageLayout.h"
#include "shell/style/Palette.h"
#include "shell/controls/SectionCard.h"
#include "shell/controls/SegmentedControl.h"
#include "shell/style/SymbolIcon.h"

#include <QLabel>
#include <QProxyStyle>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>
#include <QVBoxLayout>
#include "QtWaits.h"

using AppearanceTest = ShellTest;
using ControlsTest = ShellTest;

TEST_F(AppearanceTest, StoredSettingDrivesThePaletteAtOnce)
{
    QWidget probe;
    probe.show();
    const QColor systemWindow = AppAppearanceModifier::systemPalette().color(QPalette::Window);
    const QColor darkWindow = tessynDarkPalette().color(QPalette::Window);
    const QColor lightWindow = tessynLightPalette().color(QPalette::Window);
    ASSERT_NE(darkWindow, lightWindow);
    auto* style = qobject_cast<QProxyStyle*>(QApplication::style());
    ASSERT_TRUE(style);
    EXPECT_EQ(style->baseStyle()->name().toLower(), QStringLiteral("fusion"));

    setSetting(AppSettings::appearanceKey, QStringLiteral("dark"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), darkWindow) << "no restart, no event loop turn";
    EXPECT_EQ(Palette::canvas(), darkWindow);
    QTRY_COMPARE(probe.palette().color(QPalette::Window), darkWindow);  // open widgets follow
    EXPECT_TRUE(Palette::isDark());

    setSetting(AppSettings::appearanceKey, QStringLiteral("light"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), lightWindow);
    EXPECT_FALSE(Palette::isDark());

    for (const char* unknown : {"Dark", "", "night", "dark "}) {
        setSetting(AppSettings::appearanceKey, QStringLiteral("dark"));
        setSetting(AppSettings::appearanceKey, QString::fromUtf8(unknown));
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), systemWindow) << "'" << unknown << "' means system";
    }
    setSetting(AppSettings::appearanceKey, QStringLiteral("dark"));
    setSetting(AppSettings::appearanceKey, QStringLiteral("system"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), systemWindow);

    EXPECT_EQ(appAppearanceFromRaw(QStringLiteral("light")), AppAppearance::light);
    EXPECT_FALSE(appAppearanceFromRaw(QStringLiteral("Light")).has_value());
    EXPECT_EQ(rawValue(AppAppearance::dark), QStringLiteral("dark"));
}

TEST_F(AppearanceTest, PaletteColoursFollowTheAppearance)
{
    for (const char* appearance : {"light", "dark"}) {
        setSetting(AppSettings::appearanceKey, QString::fromLatin1(appearance));
        QPalette live = QApplication::palette();
        EXPECT_EQ(Palette::surface(), live.color(QPalette::Base)) << appearance;
        EXPECT_EQ(Palette::ink(), live.color(QPalette::WindowText)) << appearance;
        EXPECT_EQ(Palette::accent(), live.color(QPalette::Highlight)) << appearance;
        EXPECT_NEAR(Palette::line().alphaF(), live.color(QPalette::Mid).alphaF() * 0.5, 0.01)
            << "the line colour is the separator at half opacity";
        EXPECT_LT(Palette::muted().alphaF(), 1.0);
    }
    setSetting(AppSettings::appearanceKey, QStringLiteral("light"));
    QColor lightSurface = Palette::surface();
    setSetting(AppSettings::appearanceKey, QStringLiteral("dark"));
    EXPECT_NE(Palette::surface(), lightSurface);
    EXPECT_LT(Palette::surface().lightnessF(), 0.3);
}

TEST(LayoutStyleTest, RawValues)
{
    EXPECT_EQ(layoutStyleFromRaw(QStringLiteral("sidebar")), LayoutStyle::sidebar);
    EXPECT_EQ(layoutStyleFromRaw(QStringLiteral("top")), LayoutStyle::top);
    for (const char* other : {"Sidebar", "TOP", "", " top"})
        EXPECT_FALSE(layoutStyleFromRaw(QString::fromLatin1(other)).has_value()) << other;
    EXPECT_EQ(rawValue(allLayoutStyles[0]), QStringLiteral("sidebar"));
    EXPECT_EQ(rawValue(allLayoutStyles[1]), QStringLiteral("top"));
}

TEST_F(ControlsTest, BuiltInCatalogAndVersion)
{
    // No catalog is installed beside the test program, so this is the compiled-in one.
    EXPECT_EQ(L(QStringLiteral("文件")), QStringLiteral("Files"));
    EXPECT_EQ(L(QStringLiteral("文件"), AppLanguage::simplifiedChinese), QStringLiteral("文件"));
    EXPECT_EQ(L("修改时间", AppLanguage::english), QStringLiteral("Modified"));
    EXPECT_EQ(L(std::string("修改时间"), AppLanguage::english), "Modified") << "the engine's L through the same catalog";
    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    EXPECT_EQ(currentLanguage(), AppLanguage::simplifiedChinese);
    EXPECT_EQ(L(QStringLiteral("文件")), QStringLiteral("文件"));
    setSetting(AppSettings::languageKey, QStringLiteral("zh"));
    EXPECT_EQ(currentLanguage(), AppLanguage::english);

    EXPECT_EQ(AppVersion::version(), QStringLiteral("0.6.12"));
    EXPECT_EQ(AppVersion::build(), QStringLiteral("18"));
}

TEST_F(ControlsTest, LanguagePickerWritesAndFollowsTheSetting)
{
    LanguagePicker picker;
    EXPECT_EQ(picker.objectName(), QStringLiteral("language-picker"));
    EXPECT_EQ(picker.size(), QSize(260, 28));
    EXPECT_EQ(picker.segment(0)->text(), QStringLiteral("简体中文"));
    EXPECT_EQ(picker.segment(1)->text(), QStringLiteral("English"));
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_EQ(picker.accessibleName(), QStringLiteral("Interface language"));

    picker.show();
    QTest::mouseClick(picker.segment(0), Qt::LeftButton);
    EXPECT_EQ(AppSettings::shared().languageRaw(), QStringLiteral("zh-Hans"));
    EXPECT_EQ(picker.accessibleName(), QStringLiteral("界面语言"));
    EXPECT_EQ(picker.segment(1)->text(), QStringLiteral("English")) << "each language is named in itself";

    QTest::mouseClick(picker.segment(1), Qt::LeftButton);
    EXPECT_EQ(AppSettings::shared().languageRaw(), QStringLiteral("en"));

    setSetting(AppSettings::languageKey, QStringLiteral("fr"));
    EXPECT_EQ(picker.selectedIndex(), 0) << "an unknown stored value shows the first segment";
    EXPECT_EQ(currentLanguage(), AppLanguage::english);
    QTest::mouseClick(picker.segment(1), Qt::LeftButton);
    EXPECT_EQ(AppSettings::shared().languageRaw(), QStringLiteral("en")) << "choosing writes a valid value";
}

// The focus shows on the chosen segment too: inside its accent fill, left of its text.
TEST_F(ControlsTest, TheFocusShowsOnTheChosenSegment)
{
    SegmentedControl control({QStringLiteral("One"), QStringLiteral("Two")});
    control.resize(240, 28);
    control.setSelectedIndex(0);
    QWidget* chosen = control.segment(0);
    ASSERT_TRUE(focusByKeyboard(chosen));
    QImage focused = chosen->grab(QRect(4, 10, 5, 8)).toImage();
    chosen->clearFocus();
    EXPECT_NE(focused, chosen->grab(QRect(4, 10, 5, 8)).toImage());
}

TEST_F(ControlsTest, ActionButtonEmphasisTitlesAndDisabledState)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    int presses = 0;
    auto* button = new NativeActionButton(QStringLiteral("移入废纸篓"), NativeActionButton::Emphasis::primary,
                                          [&presses] { ++presses; });
    auto* plain = new NativeActionButton(QStringLiteral("A & B 文件"));
    layout->addWidget(button);
    layout->addWidget(plain);
    window.show();

    EXPECT_EQ(button->text(), QStringLiteral("Move to Trash"));
    EXPECT_EQ(plain->text(), QStringLiteral("A && B 文件")) << "an ampersand is shown, not a mnemonic";
    EXPECT_FALSE(button->autoDefault() || button->isDefault()) << "no keyboard equivalent";
    EXPECT_EQ(button->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(buttonEmphasis(button), ButtonEmphasis::primary);
    EXPECT_GE(button->font().weight(), QFont::Medium);

    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    EXPECT_EQ(button->text(), QStringLiteral("移入废纸篓"));
    EXPECT_EQ(buttonEmphasis(button), ButtonEmphasis::primary) << "retitling keeps the emphasis";
    button->setEmphasis(NativeActionButton::Emphasis::standard);
    EXPECT_EQ(buttonEmphasis(button), ButtonEmphasis::standard);
    EXPECT_EQ(button->font().weight(), QFont::Normal);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(presses, 1);
    window.setEnabled(false);
    EXPECT_FALSE(button->isEnabled()) << "a disabled enclosing view disables the button";
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(presses, 1);
}

TEST_F(ControlsTest, SectionCardTitleAndSymbol)
{
    auto* content = new QLabel(QStringLiteral("content"));
    std::unique_ptr<SectionCard> memory(card(QStringLiteral("内存状态"), QStringLiteral("memorychip"), content));
    EXPECT_EQ(memory->titleLabel()->text(), QStringLiteral("Memory status"));
    EXPECT_EQ(memory->content(), content);
    setSetting(AppSettings::languageKey, QStringLiteral("zh-Hans"));
    EXPECT_EQ(memory->titleLabel()->text(), QStringLiteral("内存状态"));
    setSetting(AppSettings::languageKey, QStringLiteral("en"));

    std::unique_ptr<SectionCard> unknown(card(QStringLiteral("没有译文的标题"), QStringLiteral("leaf")));
    EXPECT_EQ(unknown->titleLabel()->text(), QStringLiteral("没有译文的标题"));
    EXPECT_EQ(unknown->content(), nullptr);
    EXPECT_EQ(unknown->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);

    for (const char* symbol : {"eye", "folder", "memorychip", "internaldrive", "magnifyingglass", "app.fill",
                               "square.stack.3d.up.fill", "gearshape", "lock.shield", "xmark.circle.fill"}) {
        QIcon icon = SymbolIcon::shipped(QString::fromLatin1(symbol));
        ASSERT_FALSE(icon.isNull()) << symbol;
        QImage image = icon.pixmap(QSize(24, 24)).toImage();
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(inked, 20) << symbol << " draws something";
    }
    EXPECT_TRUE(SymbolIcon::shipped(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_EQ(BrandArtwork::source(), QStringLiteral("artwork"));
    EXPECT_FALSE(BrandArtwork::image().pixmap(64, 64).isNull());
}

// A page's content ends a gap before its scroll bar while the bar shows, so cards keep their
// outline and corners; without the bar it takes the whole width.
TEST_F(ControlsTest, PageScrollAreaKeepsItsContentClearOfTheScrollBar)
{
    for (int contentHeight : {100, 2000}) {
        QScrollArea area;
        setUpPageScrollArea(&area);
        auto* content = new QWidget();
        content->setMinimumHeight(contentHeight);
        area.setWidget(content);
        area.resize(400, 300);
        area.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
        QScrollBar* bar = area.verticalScrollBar();
        const bool scrolls = contentHeight > area.height();
        ASSERT_EQ(bar->isVisible(), scrolls);
        const int contentEnd = content->mapTo(&area, content->contentsRect().topRight()).x() + 1;
        EXPECT_EQ(contentEnd, scrolls ? bar->mapTo(&area, QPoint(0, 0)).x() - pageScrollBarGap : area.width()) << contentHeight;
    }
}

TEST_F(ControlsTest, NavigationBusAndWindowProbe)
{
    QWidget window;
    QSignalSpy bus(&NavigationBus::shared(), &NavigationBus::navigate);
    NavigationBus::shared().post(&window, QStringLiteral("文件"));
    ASSERT_EQ(bus.count(), 1) << "delivered synchronously";
    EXPECT_EQ(bus.at(0).at(0).value<QWidget*>(), &window);
    EXPECT_EQ(bus.at(0).at(1).toString(), QStringLiteral("文件"));
    EXPECT_STREQ(NavigationBus::notificationName, "tessyn.navigate");

    std::vector<QWidget*> reports;
    auto* holder = new QWidget(&window);
    auto* probe = new NavigationWindowProbe();
    probe->setAttached([&reports](QWidget* w) { reports.push_back(w); });
    probe->setParent(holder);
    EXPECT_TRUE(reports.empty()) << "the report waits one turn of the event loop";
    QTRY_COMPARE(reports.size(), size_t(1));
    EXPECT_EQ(reports.back(), &window);

    // Moving an ancestor into another window moves the probe with it.
    QWidget other;
    holder->setParent(&other);
    QTRY_COMPARE(reports.size(), size_t(2));
    EXPECT_EQ(reports.back(), &other);

    probe->setParent(nullptr);
    QTRY_COMPARE(reports.size(), size_t(3));
    EXPECT_EQ(reports.back(), nullptr) << "leaving the window reports none";
    delete probe;
}
