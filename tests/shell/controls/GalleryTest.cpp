#include "../ShellTestSupport.h"

#include "engine/ByteFormat.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/ApplicationIcons.h"
#include "shell/style/BrandArtwork.h"
#include "shell/controls/LanguagePicker.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "pages/files/NativeFileTable.h"
#include "pages/apps/NativeRelatedCheckbox.h"
#include "shell/style/Palette.h"
#include "shell/controls/SectionCard.h"
#include "shell/style/SymbolIcon.h"

#include <QDir>
#include <QGridLayout>
#include <algorithm>
#include <QHBoxLayout>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

// Draws the shared controls, cards and a file table in both appearances and both languages.
// With TESSYN_GALLERY_DIR set, the pictures are written there for a person to look at; the
// test itself checks that what is painted follows the live palette.
namespace {

const char* const kSymbols[] = {"eye", "folder", "folder.fill", "folder.badge.plus", "app", "app.fill", "app.badge",
                                "memorychip", "internaldrive", "magnifyingglass", "square.stack.3d.up.fill",
                                "square.grid.2x2", "clock", "clock.arrow.circlepath", "gearshape", "sidebar.left",
                                "rectangle.topthird.inset.filled", "lock.shield", "info.circle", "info.circle.fill",
                                "checkmark.circle", "checkmark.shield", "exclamationmark.circle",
                                "exclamationmark.triangle", "questionmark.circle", "xmark.circle.fill", "doc.on.doc",
                                "doc.text.magnifyingglass", "list.bullet.rectangle",
                                "line.3.horizontal.decrease.circle", "arrow.up.arrow.down", "arrow.down.circle",
                                "bolt.circle", "waveform.path", "chart.xyaxis.line", "circle.lefthalf.filled", "globe",
                                "leaf"};

std::vector<FileEntry> sampleFiles()
{
    std::vector<FileEntry> files;
    const char* paths[] = {"/home/lin/Movies/家庭录像-2019-夏天-海边旅行-完整版-未剪辑的原始素材.mov",
                           "/home/lin/Downloads/installer-archive-2022.zip",
                           "/home/lin/Documents/Reports/季度报告.pdf",
                           "/home/lin/Pictures/Camera/IMG_4821.HEIC",
                           "/home/lin/Music/Concerts/live-recording.flac",
                           "/home/lin/Downloads/very/deeply/nested/folder/structure/that/keeps/going/setup.dmg",
                           "/home/lin/Documents/notes.txt",
                           "/home/lin/Desktop/截图 2024-01-05.png"};
    int64_t size = 7'400'000'000;
    double modified = 730000000;
    for (const char* p : paths) {
        files.emplace_back(p, size, modified, 1, std::hash<std::string>{}(p), size, modified);
        size /= 7;
        modified -= 8'000'000;
    }
    return files;
}

QWidget* symbolStrip()
{
    auto* strip = new QWidget();
    auto* grid = new QGridLayout(strip);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(10);
    int i = 0;
    for (const char* s : kSymbols) {
        auto* label = new QLabel();
        label->setPixmap(SymbolIcon::icon(QString::fromLatin1(s)).pixmap(QSize(20, 20)));
        label->setToolTip(QString::fromLatin1(s));
        grid->addWidget(label, i / 19, i % 19);
        ++i;
    }
    return strip;
}

struct Gallery {
    std::unique_ptr<QWidget> window;
    SectionCard* firstCard = nullptr;
    NativeFileTable* table = nullptr;
    ApplicationIconView* icon = nullptr;
};

Gallery buildGallery()
{
    Gallery g;
    g.window = std::make_unique<QWidget>();
    g.window->setAutoFillBackground(true);
    g.window->resize(980, 900);
    auto* page = new QVBoxLayout(g.window.get());
    page->setContentsMargins(24, 24, 24, 24);
    page->setSpacing(18);

    auto* brandRow = new QHBoxLayout();
    auto* brand = new QLabel();
    brand->setPixmap(BrandArtwork::image().pixmap(QSize(48, 48)));
    auto* name = new QLabel(QStringLiteral("Tessyn"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setWeight(QFont::DemiBold);
    name->setFont(big);
    auto* icon = new ApplicationIconView();
    icon->setFixedSize(38, 38);
    icon->setApplication(QStringLiteral("/Applications/Missing.app"), 1);
    g.icon = icon;
    brandRow->addWidget(brand);
    brandRow->addWidget(name);
    brandRow->addStretch(1);
    brandRow->addWidget(icon);
    page->addLayout(brandRow);

    auto* buttons = new QWidget();
    auto* buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->addWidget(new NativeActionButton(QStringLiteral("移入废纸篓"), ButtonEmphasis::primary));
    buttonRow->addWidget(new NativeActionButton(QStringLiteral("取消")));
    buttonRow->addWidget(new NativeActionButton(QStringLiteral("移入废纸篓"), ButtonEmphasis::destructive));
    auto* disabled = new NativeActionButton(QStringLiteral("预览"), ButtonEmphasis::primary);
    disabled->setEnabled(false);
    buttonRow->addWidget(disabled);
    buttonRow->addStretch(1);

    auto* cards = new QHBoxLayout();
    cards->setSpacing(16);
    g.firstCard = card(QStringLiteral("内存状态"), QStringLiteral("memorychip"), buttons);
    auto* choices = new QWidget();
    auto* choiceColumn = new QVBoxLayout(choices);
    choiceColumn->setContentsMargins(0, 0, 0, 0);
    choiceColumn->addWidget(new LanguagePicker());
    auto* ticked = new NativeRelatedCheckbox(QStringLiteral("related-0"));
    ticked->setSelected(true);
    choiceColumn->addWidget(ticked);
    choiceColumn->addWidget(new NativeRelatedCheckbox(QStringLiteral("related-1")));
    cards->addWidget(g.firstCard);
    cards->addWidget(card(QStringLiteral("磁盘空间"), QStringLiteral("internaldrive"), choices));
    page->addLayout(cards);
    page->addWidget(card(QStringLiteral("最近扫描"), QStringLiteral("magnifyingglass"), symbolStrip()));

    g.table = new NativeFileTable();
    auto files = sampleFiles();
    FilePresentationMap presentation;
    for (size_t i = 0; i < 4; ++i)
        presentation[files[i].path] = FilePresentation{"", "2024/3/" + std::to_string(i + 1), ""};
    // The first rows carry display strings, as the model prepares them; the rest fall back.
    for (auto& [path, p] : presentation) {
        auto it = std::find_if(files.begin(), files.end(), [&](const FileEntry& e) { return e.path == path; });
        p.size = formatFileSize(it->size);
        p.parent = std::string(*it->parentPath());
    }
    PathSelection selection{files[1].path, files[2].path, "/elsewhere/hidden.bin"};
    g.table->apply(std::make_shared<std::vector<FileEntry>>(files), presentation, selection, false, currentLanguage());
    g.table->setMinimumHeight(8 * 44 + 30);
    page->addWidget(g.table, 1);
    return g;
}

QColor pixel(const QImage& image, QPoint at) { return QColor(image.pixel(at)); }

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class GalleryTest : public ShellTest {};

TEST_F(GalleryTest, ControlsPaintWithTheLivePalette)
{
    QString outDir = QString::fromLocal8Bit(qgetenv("TESSYN_GALLERY_DIR"));
    if (!outDir.isEmpty()) QDir().mkpath(outDir);

    for (const char* appearance : {"light", "dark"}) {
        for (const char* language : {"zh-Hans", "en"}) {
            setSetting(AppSettings::appearanceKey, QString::fromLatin1(appearance));
            setSetting(AppSettings::languageKey, QString::fromLatin1(language));
            Gallery g = buildGallery();
            g.window->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(g.window.get()));
            ASSERT_TRUE(QTest::qWaitFor([&] { return g.icon->hasLoadedIcon(); })) << "the row icon's wait and read";
            QImage shot = g.window->grab().toImage();
            std::string where = std::string(appearance) + "/" + language;

            QPoint canvasSpot(6, 6);
            QPoint cardSpot = g.firstCard->mapTo(g.window.get(), QPoint(g.firstCard->width() - 30, g.firstCard->height() - 12));
            EXPECT_TRUE(near(pixel(shot, canvasSpot), Palette::canvas())) << where << " canvas";
            EXPECT_TRUE(near(pixel(shot, cardSpot), Palette::surface())) << where << " card surface";
            if (std::string(appearance) == "dark") {
                EXPECT_LT(pixel(shot, cardSpot).lightnessF(), 0.3) << where;
            }

            bool english = std::string(language) == "en";
            EXPECT_EQ(g.firstCard->titleLabel()->text(),
                      english ? QStringLiteral("Memory status") : QStringLiteral("内存状态"));
            EXPECT_EQ(g.table->model()->headerData(0, Qt::Horizontal).toString(),
                      english ? QStringLiteral("Files") : QStringLiteral("文件"));

            if (!outDir.isEmpty()) {
                QString base = outDir + QStringLiteral("/gallery-") + QString::fromLatin1(appearance) +
                               QLatin1Char('-') + QString::fromLatin1(language);
                shot.save(base + QStringLiteral(".png"));
                // The confirmation as the user sees it, on this window.
                QDialog* shown = nullptr;
                ActionConfirmation::present(
                    QStringLiteral("将选中的缓存移入废纸篓？"),
                    QStringLiteral("12 项。清理可能导致重新下载。可在操作记录恢复；原位置已有文件不会覆盖。"),
                    QStringLiteral("移入废纸篓"), [](bool) {}, g.window.get(), [&shown](QDialog* d) { shown = d; });
                ASSERT_TRUE(shown);
                ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
                shown->grab().save(base + QStringLiteral("-confirmation.png"));
                shown->reject();
            }
        }
    }
}
