#include "shell/window/MainView.h"

#include "model/AppModel.h"
#include "shell/app/AppSettings.h"
#include "shell/app/AppVersion.h"
#include "shell/style/BrandArtwork.h"
#include "shell/window/CachedPageHost.h"
#include "shell/window/FocusSpot.h"
#include "shell/LocalizedText.h"
#include "shell/window/NavigationBus.h"
#include "shell/window/NavigationItem.h"
#include "shell/window/NavigationWindowProbe.h"
#include "shell/window/PageContent.h"
#include "shell/window/PageDestinations.h"
#include "shell/style/Palette.h"
#include "shell/app/ShellHooks.h"
#include "shell/style/SymbolIcon.h"
#include "shell/style/SymbolView.h"
#include "shell/controls/StyledLabel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedLayout>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A 1-point divider in the line colour.
class Rule : public QWidget {
public:
    explicit Rule(Qt::Orientation orientation, int length = 0)
    {
        if (orientation == Qt::Horizontal) {
            setFixedHeight(1);
            setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        } else {
            setFixedWidth(1);
            if (length > 0) setFixedHeight(length);
            else setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Palette::line()); }
};

// The translucent-looking navigation background: the canvas tinted a little towards the text
// colour, so it reads as a separate surface in light and dark.
class MaterialPanel : public QWidget {
public:
    MaterialPanel(double tint, bool bottomLine) : tint_(tint), bottomLine_(bottomLine) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QColor base = Palette::canvas();
        QColor ink = Palette::ink();
        QColor fill = QColor::fromRgbF(base.redF() * (1 - tint_) + ink.redF() * tint_,
                                       base.greenF() * (1 - tint_) + ink.greenF() * tint_,
                                       base.blueF() * (1 - tint_) + ink.blueF() * tint_);
        p.fillRect(rect(), fill);
        if (bottomLine_) p.fillRect(QRect(0, height() - 1, width(), 1), Palette::line());
    }

private:
    double tint_;
    bool bottomLine_;
};

// The message banner's background: the surface colour in a rounded rectangle.
class BannerFrame : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        p.fillPath(path, Palette::surface());
    }
};

// The symbol of the banner in the accent colour, following appearance changes.
class AccentSymbol : public QWidget {
public:
    explicit AccentSymbol(QString symbol) : symbol_(std::move(symbol)) { setFixedSize(18, 18); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        qreal ratio = devicePixelRatioF();
        p.drawPixmap(QPoint(1, 1), SymbolIcon::tinted(symbol_, QSize(16, 16), Palette::accent(), ratio));
    }

private:
    QString symbol_;
};

QString versionLine(bool withSuffix)
{
    return QStringLiteral("v") + AppVersion::version() + (withSuffix ? QStringLiteral(" · 开发预览") : QString());
}

} // namespace

MainView::MainView(AppModel& model, const QString& initialPage, std::optional<LayoutStyle> layoutOverride,
                   QWidget* parent)
    : QWidget(parent), model_(model), page_(initialPage), layoutOverride_(layoutOverride)
{
    setObjectName(QStringLiteral("main-view"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    sidebar_ = buildSidebar();
    sidebar_->setFixedWidth(sidebarWidth);
    sidebarRule_ = new Rule(Qt::Vertical);
    row->addWidget(sidebar_);
    row->addWidget(sidebarRule_);

    auto* right = new QWidget();
    auto* rightColumn = new QVBoxLayout(right);
    rightColumn->setContentsMargins(0, 0, 0, 0);
    rightColumn->setSpacing(0);
    topNavigation_ = buildTopNavigation();
    rightColumn->addWidget(topNavigation_);
    contentColumn_ = new QWidget();
    contentColumn_->setObjectName(QStringLiteral("content-column"));
    auto* content = new QVBoxLayout(contentColumn_);
    content->setContentsMargins(24, 24, 24, 24);
    content->setSpacing(18);
    content->addWidget(header_ = buildHeader());
    content->addWidget(buildBanner());
    content->addWidget(buildPageArea(), 1);
    rightColumn->addWidget(contentColumn_, 1);
    row->addWidget(right, 1);

    buildToolBar();

    probe_ = new NavigationWindowProbe(this);
    probe_->setAttached([this](QWidget* window) { navigationWindow_ = window; });

    host_->setContent([this](const QString& id) {
        return makePageContent(id, model_, [this](const QString& target) { setPage(target); });
    });
    host_->setDidMount([this](const QString& id) { didMount(id); });

    mountTimer_.setSingleShot(true);
    mountTimer_.setInterval(mountDelayMs);
    connect(&mountTimer_, &QTimer::timeout, this, &MainView::mountTimerFired);
    memoryTimer_.setInterval(memoryIntervalMs);
    memoryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&memoryTimer_, &QTimer::timeout, this, &MainView::memoryTick);

    connect(&NavigationBus::shared(), &NavigationBus::navigate, this, &MainView::navigationPosted);
    connect(&model_, &AppModel::messageChanged, this, &MainView::refreshBanner);
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) retranslate();
        else if (key == AppSettings::layoutKey) applyLayout();
    });
    // Quitting stops the folder jobs; nothing else is awaited here.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { model_.cancelScanJobs(); });

    retranslate();
    applyLayout();
    refreshBanner();
    refreshChrome();
}

MainView::~MainView()
{
    // The window normally owns the toolbar; one never placed is ours.
    if (toolBar_ && !toolBar_->parent()) delete toolBar_;
}

// ---------------------------------------------------------------------------------------------
// Building

StyledLabel* MainView::fixedText(const QString& text, const QFont& font, bool muted)
{
    auto* label = new StyledLabel(font, muted ? StyledLabel::Tone::muted : StyledLabel::Tone::ink);
    fixedTexts_.emplace_back(label, text);
    return label;
}

QWidget* MainView::buildBrand()
{
    auto* brand = new QWidget();
    auto* row = new QHBoxLayout(brand);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* art = new QLabel();
    art->setFixedSize(28, 28);
    art->setPixmap(BrandArtwork::image().pixmap(QSize(28, 28), devicePixelRatioF()));
    art->setAccessibleName(QString());
    auto* name = new StyledLabel(Typography::system(15, QFont::DemiBold));
    name->setText(QStringLiteral("Tessyn"));
    row->addWidget(art, 0, Qt::AlignVCenter);
    row->addWidget(name, 0, Qt::AlignVCenter);
    row->addStretch(1);
    return brand;
}

QWidget* MainView::buildSidebar()
{
    auto* panel = new MaterialPanel(0.035, false);
    panel->setObjectName(QStringLiteral("sidebar"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(6);

    auto heading = [this](const QString& text) {
        StyledLabel* label = fixedText(text, Typography::system(10, QFont::DemiBold), true);
        label->setContentsMargins(13, 0, 0, 5);
        return label;
    };
    auto item = [this](const PageDestination& destination) {
        auto* entry = new NavigationItem(destination.title, destination.symbol, false);
        connect(entry, &QAbstractButton::clicked, this, [this, page = destination.title] { setPage(page); });
        sidebarItems_.push_back(entry);
        return entry;
    };

    QWidget* brand = buildBrand();
    column->addWidget(brand);
    column->addSpacing(10);
    column->addWidget(heading(QStringLiteral("工作台")));
    const auto& table = Pages::destinations();
    size_t upper = table.size() <= 4 ? table.size() : 4;
    for (size_t i = 0; i < upper; ++i) column->addWidget(item(table[i]));
    column->addSpacing(12);
    column->addStretch(1);
    column->addSpacing(8);
    column->addWidget(new Rule(Qt::Horizontal));
    column->addSpacing(8);
    column->addWidget(heading(QStringLiteral("管理与偏好")));
    size_t lower = table.size() <= 2 ? 0 : table.size() - 2;
    for (size_t i = lower; i < table.size(); ++i) column->addWidget(item(table[i]));

    auto* footer = new QWidget();
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(0, 6, 0, 0);
    footerRow->setSpacing(5);
    footerRow->addWidget(new SymbolView(QStringLiteral("lock.shield"), 13));
    footerRow->addWidget(fixedText(QStringLiteral("本机处理"), Typography::caption(), true));
    footerRow->addStretch(1);
    column->addWidget(footer);
    sidebarVersion_ = new StyledLabel(Typography::caption2(), StyledLabel::Tone::muted);
    column->addWidget(sidebarVersion_);
    return panel;
}

QWidget* MainView::buildTopNavigation()
{
    auto* bar = new MaterialPanel(0.025, true);
    bar->setObjectName(QStringLiteral("top-navigation"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(24, 10, 24, 11);
    row->setSpacing(14);
    row->addWidget(buildBrand());
    row->addWidget(new Rule(Qt::Vertical, 28), 0, Qt::AlignVCenter);
    auto* entries = new QHBoxLayout();
    entries->setSpacing(4);
    for (const PageDestination& destination : Pages::destinations()) {
        auto* entry = new NavigationItem(destination.title, destination.symbol, true);
        connect(entry, &QAbstractButton::clicked, this, [this, page = destination.title] { setPage(page); });
        topItems_.push_back(entry);
        entries->addWidget(entry);
    }
    row->addLayout(entries);
    // The version is always whole: when space is short the entries give way (Qt's labels are
    // never narrower than their text).
    topVersion_ = new StyledLabel(Typography::caption2(), StyledLabel::Tone::muted);
    topVersion_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    topVersion_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(topVersion_, 1);
    return bar;
}

QWidget* MainView::buildHeader()
{
    auto* header = new QWidget();
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    title_ = new StyledLabel(Typography::system(24, QFont::DemiBold));
    subtitle_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    column->addWidget(title_);
    column->addWidget(subtitle_);
    return header;
}

QWidget* MainView::buildBanner()
{
    banner_ = new BannerFrame();
    banner_->setObjectName(QStringLiteral("message-banner"));
    auto* row = new QHBoxLayout(banner_);
    row->setContentsMargins(12, 12, 12, 12);
    row->addWidget(new AccentSymbol(QStringLiteral("info.circle.fill")), 0, Qt::AlignTop);
    bannerText_ = new StyledLabel(Typography::callout());
    bannerText_->setTextFormat(Qt::PlainText);
    bannerText_->setWordWrap(true);
    bannerText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bannerText_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(bannerText_, 1, Qt::AlignTop);
    bannerClose_ = new QPushButton();
    bannerClose_->setAutoDefault(false);
    connect(bannerClose_, &QPushButton::clicked, this, [this] { model_.setMessage(std::nullopt); });
    row->addWidget(bannerClose_, 0, Qt::AlignTop);
    return banner_;
}

QWidget* MainView::buildPageArea()
{
    pageArea_ = new QWidget();
    pageArea_->setObjectName(QStringLiteral("page-area"));
    auto* stack = new QStackedLayout(pageArea_);
    stack->setStackingMode(QStackedLayout::StackAll);
    host_ = new CachedPageHost();
    host_->setObjectName(QStringLiteral("page-host"));
    stack->addWidget(host_);

    placeholder_ = new QWidget();
    placeholder_->setObjectName(QStringLiteral("page-loading"));
    placeholder_->setAutoFillBackground(true);
    placeholder_->setBackgroundRole(QPalette::Window);
    auto* column = new QVBoxLayout(placeholder_);
    column->setSpacing(12);
    column->addStretch(1);
    auto* spinner = new QProgressBar();
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(160, 6);
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    placeholderText_ = new StyledLabel(Typography::callout(), StyledLabel::Tone::muted);
    column->addWidget(placeholderText_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    stack->addWidget(placeholder_);
    return pageArea_;
}

void MainView::buildToolBar()
{
    toolBar_ = new QToolBar();
    toolBar_->setObjectName(QStringLiteral("main-toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->toggleViewAction()->setVisible(false);
    toolbarTitle_ = new QLabel();
    toolbarTitle_->setFont(Typography::headline());
    toolbarTitle_->setContentsMargins(10, 0, 0, 0);
    toolBar_->addWidget(toolbarTitle_);
    auto* spacer = new QWidget();
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar_->addWidget(spacer);

    layoutButton_ = new QToolButton();
    layoutButton_->setObjectName(QStringLiteral("layout-menu"));
    layoutButton_->setIcon(SymbolIcon::icon(QStringLiteral("sidebar.left")));
    layoutButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layoutButton_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(layoutButton_);
    const std::pair<LayoutStyle, const char*> symbols[] = {{LayoutStyle::sidebar, "sidebar.left"},
                                                           {LayoutStyle::top, "rectangle.topthird.inset.filled"}};
    for (const auto& [style, symbol] : symbols) {
        QAction* action = menu->addAction(SymbolIcon::icon(QString::fromLatin1(symbol)), QString());
        action->setData(rawValue(style));
        connect(action, &QAction::triggered, this,
                [raw = rawValue(style)] { AppSettings::shared().setValue(AppSettings::layoutKey, raw); });
    }
    layoutButton_->setMenu(menu);
    toolBar_->addWidget(layoutButton_);
}

// ---------------------------------------------------------------------------------------------
// Texts and layout

QLabel* MainView::bannerText() const { return bannerText_; }
QLabel* MainView::headerTitle() const { return title_; }
QLabel* MainView::topVersionLabel() const { return topVersion_; }

std::vector<NavigationItem*> MainView::navigationItems() const
{
    std::vector<NavigationItem*> all = sidebarItems_;
    all.insert(all.end(), topItems_.begin(), topItems_.end());
    return all;
}

LayoutStyle MainView::effectiveLayout() const
{
    if (layoutOverride_) return *layoutOverride_;
    return layoutStyleFromRaw(AppSettings::shared().layoutRaw()).value_or(LayoutStyle::sidebar);
}

void MainView::applyLayout()
{
    bool sidebar = effectiveLayout() == LayoutStyle::sidebar;
    // An entry with the keyboard focus hands it to the same page's entry in the other layout.
    auto* focused = qobject_cast<NavigationItem*>(window()->focusWidget());
    sidebar_->setVisible(sidebar);
    sidebarRule_->setVisible(sidebar);
    topNavigation_->setVisible(!sidebar);
    if (!focused || focused->isVisible()) return;
    for (NavigationItem* item : sidebar ? sidebarItems_ : topItems_)
        if (item->page() == focused->page()) item->setFocus(Qt::OtherFocusReason);
}

void MainView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyCompact();
}

// Measured on the whole view, which nothing here changes, so this settles at once.
void MainView::applyCompact()
{
    bool compact = height() < compactBelowHeight;
    if (compact == compact_) return;
    compact_ = compact;
    header_->setVisible(!compact);
    auto* content = static_cast<QVBoxLayout*>(contentColumn_->layout());
    int edge = compact ? 8 : 24;
    content->setContentsMargins(24, edge, 24, edge);
    content->setSpacing(compact ? 8 : 18);
    int inset = compact ? 6 : 12;
    banner_->layout()->setContentsMargins(inset, inset, inset, inset);
    // The top bar's entries keep their own padding; only the bar's edges come in.
    topNavigation_->layout()->setContentsMargins(24, compact ? 4 : 10, 24, compact ? 4 : 11);
}

void MainView::retranslate()
{
    for (const auto& [label, text] : fixedTexts_) label->setText(L(text));
    sidebarVersion_->setText(L(versionLine(true)));
    topVersion_->setText(L(versionLine(false)));
    for (NavigationItem* item : navigationItems()) item->retranslate();
    bannerClose_->setText(plainTitle(L(QStringLiteral("关闭提示"))));
    layoutButton_->setText(L(QStringLiteral("布局风格")));
    layoutButton_->setToolTip(L(QStringLiteral("切换布局，保留当前页面与操作状态")));
    for (QAction* action : layoutButton_->menu()->actions())
        action->setText(plainTitle(L(action->data().toString() == QStringLiteral("top") ? QStringLiteral("顶部导航")
                                                                                        : QStringLiteral("侧栏工作台"))));
    refreshBanner();
    refreshChrome();
    updateHost();
}

void MainView::refreshChrome()
{
    title_->setText(L(page_));
    title_->setObjectName(QStringLiteral("page-") + page_);
    title_->setAccessibleName(L(page_));
    subtitle_->setText(L(Pages::subtitle(page_)));
    toolbarTitle_->setText(L(page_));
    for (NavigationItem* item : navigationItems()) item->setSelected(item->page() == page_);

    bool ready = readyPage_ && *readyPage_ == page_;
    placeholderText_->setText(L(QStringLiteral("正在加载") + L(page_) + QStringLiteral("…")));
    placeholder_->setVisible(!ready);
    if (!ready) placeholder_->raise();
}

void MainView::refreshBanner()
{
    const auto& message = model_.message();
    banner_->setVisible(bool(message));
    bannerText_->setText(message ? L(QString::fromStdString(*message)) : QString());
}

// ---------------------------------------------------------------------------------------------
// Pages

void MainView::setPage(const QString& page)
{
    if (page == page_) return;
    if (focusWhenReady_ != page) focusWhenReady_.reset();
    page_ = page;
    pageDidChange();
    emit pageChanged(page_);
}

void MainView::pageDidChange()
{
    bool loaded = loadedPages_.contains(page_);
    std::optional<QString> ready = loaded ? std::optional<QString>(page_) : std::nullopt;
    mountingPage_ = ready;
    setReadyPage(ready);
    reportPage();
    refreshChrome();
    updateHost();
    startMount();
}

void MainView::startMount()
{
    // A newer page replaces the pending mount.
    mountTimer_.stop();
    mountTarget_ = page_;
    if (loadedPages_.contains(mountTarget_)) return;
    mountTimer_.start();
}

void MainView::mountTimerFired()
{
    const QString target = mountTarget_;
    if (page_ != target) return;
    mountingPage_ = target;
    updateHost();
    if (target == Pages::maintenance && model_.installedApps().empty()) model_.refreshInstalledApps();
}

void MainView::didMount(const QString& page)
{
    if (page_ != page || mountingPage_ != page) return;
    loadedPages_.insert(page);
    setReadyPage(page);
    refreshChrome();
    if (focusWhenReady_ == page) focusPage();
}

void MainView::setReadyPage(std::optional<QString> page)
{
    if (readyPage_ == page) return;
    readyPage_ = std::move(page);
    reportPage();
    emit readyPageChanged();
}

void MainView::reportPage()
{
    if (const auto& pageShown = shellHooks().audit.pageShown) pageShown(page_, readyPage_);
}

void MainView::updateHost()
{
    host_->apply(mountingPage_, AppSettings::shared().languageRaw(), mountingPage_ == Pages::overview);
}

void MainView::navigationPosted(QWidget* window, const QString& page)
{
    if (!window || !window->isWindow()) return;
    if (!navigationWindow_ || navigationWindow_ != window) return;
    // Chosen from the menu or its shortcut, the page takes the keyboard focus once it is there,
    // so that what is typed next goes to it and not to the entry or control left behind.
    bool shown = page == page_ && readyPage_ == page;
    focusWhenReady_ = page;
    setPage(page);
    if (shown) focusPage();
}

void MainView::focusPage()
{
    focusWhenReady_.reset();
    QWidget* shown = host_->page(page_);
    QWidget* first = shown && shown->isVisible() ? nextTabStop(shown, shown) : nullptr;
    if (!first) return;
    // The first control in sight, so that a page returned to stays where it was scrolled to.
    for (QWidget* stop = first; stop; stop = nextTabStop(stop, shown)) {
        if (stop->visibleRegion().boundingRect() == stop->rect()) {
            stop->setFocus(Qt::ShortcutFocusReason);
            return;
        }
        if (nextTabStop(stop, shown) == first) break;
    }
    first->setFocus(Qt::ShortcutFocusReason);
    // None in sight: the first one is brought into view, as Tab would bring it.
    for (QWidget* up = first->parentWidget(); up; up = up == shown ? nullptr : up->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(up)) area->ensureWidgetVisible(first);
}

// ---------------------------------------------------------------------------------------------
// Window duties

void MainView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (!appeared_) {
        appeared_ = true;
        model_.sampleMemory();
        if (const auto& startAudit = shellHooks().audit.start) startAudit(model_);
        if (onAppear_) onAppear_();
        pageDidChange();
        memoryTimer_.start();
        if (const auto& checkForUpdates = shellHooks().update.checkAtStartUp) checkForUpdates();
    }
}

void MainView::memoryTick()
{
    QWidget* host = window();
    if (host && host->isActiveWindow()) model_.sampleMemory();
}
