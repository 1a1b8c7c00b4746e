#include "pages/memory/MemoryPage.h"

#include "engine/ByteFormat.h"
#include "engine/Dates.h"
#include "model/AppModel.h"
#include "pages/memory/MemoryApplicationList.h"
#include "pages/memory/MemoryReleaseResultView.h"
#include "pages/memory/MemoryReleaseReview.h"
#include "pages/memory/MemoryTrendChart.h"
#include "shell/controls/SheetWidgets.h"
#include "services/MemoryReleaseEngine.h"
#include "shell/controls/ActionConfirmation.h"
#include "shell/controls/ContentUnavailableView.h"
#include "shell/DesktopServices.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/NativeActionButton.h"
#include "model/Completion.h"
#include "shell/PageLayout.h"
#include "shell/controls/SectionCard.h"
#include "shell/style/SymbolIcon.h"
#include "shell/controls/StyledLabel.h"

#include <QDateTime>
#include <QDialog>
#include <QHBoxLayout>
#include <QLocale>
#include <QProgressBar>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <unistd.h>

namespace {

int32_t ownProcess() { return static_cast<int32_t>(getpid()); }

StyledLabel* text(const QString& chinese, const QFont& font, StyledLabel::Tone tone = StyledLabel::Tone::ink)
{
    auto* label = SheetWidgets::text(font, tone);
    label->setText(L(chinese));
    return label;
}

QString bytes(int64_t value) { return L(QString::fromStdString(formatFileSize(value))); }

// The time of a sample in the user's locale: hours, minutes and seconds, no date, no zone.
QString sampleTime(double date)
{
    QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    QDateTime time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixTimeFromDate(date) * 1000.0));
    return locale.toString(time.time(), format.trimmed());
}

QString adviceSymbol(int severity)
{
    if (severity < 0) return QStringLiteral("questionmark.circle");
    if (severity == 0) return QStringLiteral("checkmark.circle");
    return QStringLiteral("exclamationmark.circle");
}

} // namespace

MemoryPage::MemoryPage(AppModel& model, QWidget* parent) : QScrollArea(parent), model_(model)
{
    setObjectName(QStringLiteral("memory-page"));
    setUpPageScrollArea(this);

    auto* body = new QWidget();
    body->setAutoFillBackground(false);
    stack_ = column(body, 18);
    adviceCard_ = card(QString(), QString());  // replaced by the first refresh
    stack_->addWidget(adviceCard_);
    countersCard_ = buildCounters();
    stack_->addWidget(countersCard_);
    memoryUnavailable_ = new ContentUnavailableView(QStringLiteral("memorychip"), QStringLiteral("暂时无法读取内存"), QString());
    stack_->addWidget(memoryUnavailable_);
    trendCard_ = buildTrend();
    stack_->addWidget(trendCard_);
    stack_->addWidget(buildRelease());
    stack_->addWidget(buildApplications());
    stack_->addWidget(buildFooter());
    stack_->addStretch(1);
    setWidget(body);

    // Every sample changes the latest reading and then the kept samples: the counters follow
    // the one, the trend the other. The advice also ages with the clock, so it is weighed on
    // both (it rebuilds its card only when it changed).
    connect(&model_, &AppModel::memoryChanged, this, [this] {
        refreshCounters();
        refreshAdvice();
    });
    connect(&model_, &AppModel::memorySamplesChanged, this, [this] {
        refreshAdvice();
        refreshTrend();
    });
    connect(&model_, &AppModel::applicationsChanged, this, &MemoryPage::refreshApplications);
    for (auto signal : {&AppModel::maintenanceBusyChanged, &AppModel::memoryReleaseOutcomeChanged})
        connect(&model_, signal, this, &MemoryPage::refreshRelease);
    refreshContent();
}

MemoryPage::~MemoryPage()
{
    if (quitConfirmation_) quitConfirmation_->reject();
    if (releaseReview_) releaseReview_->reject();
}

void MemoryPage::refreshContent()
{
    refreshAdvice();
    refreshCounters();
    refreshTrend();
    refreshRelease();
    refreshApplications();
}

std::vector<ApplicationMemory> MemoryPage::releaseCandidates() const
{
    return MemoryReleaseEngine::candidates(model_.applications(), ownProcess());
}

// --- Building ----------------------------------------------------------------------------------

QWidget* MemoryPage::buildCounters()
{
    auto* content = new QWidget();
    auto* rows = column(content, 8);
    const char* titles[] = {"物理内存", "活跃页面", "固定内存", "压缩器占用", "空闲页面", "交换空间（磁盘）"};
    for (const char* title : titles) {
        CounterRow counter;
        counter.row = new QWidget();
        auto* line = new QHBoxLayout(counter.row);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(text(QString::fromUtf8(title), Typography::body()), 0);
        line->addStretch(1);
        counter.value = new StyledLabel(Typography::body());
        counter.value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->addWidget(counter.value, 0);
        rows->addWidget(counter.row);
        counters_.push_back(counter);
    }
    sampledAt_ = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    sampledAt_->setWordWrap(true);
    rows->addWidget(sampledAt_);
    return card(QStringLiteral("实时采样"), QStringLiteral("waveform.path"), content);
}

QWidget* MemoryPage::buildTrend()
{
    auto* content = new QWidget();
    auto* rows = column(content, 8);
    trendChart_ = new MemoryTrendChart();
    rows->addWidget(trendChart_);
    rows->addWidget(text(QStringLiteral("仅保留本次前台采样。压缩器占用与磁盘交换空间是不同指标，不相加为内存使用量。"),
                         Typography::caption(), StyledLabel::Tone::muted));
    return card(QStringLiteral("最近 6 分钟趋势"), QStringLiteral("chart.xyaxis.line"), content);
}

QWidget* MemoryPage::buildRelease()
{
    auto* content = new QWidget();
    releaseColumn_ = column(content, 10);
    releaseColumn_->addWidget(text(QStringLiteral("通过正常退出暂时不用的应用释放其内存。不会清空系统缓存，也不会强制结束进程。"),
                                   Typography::body()));
    releaseButton_ = new NativeActionButton(QStringLiteral("一键释放内存…"), NativeActionButton::Emphasis::primary,
                                            [this] { openReleaseReview(); });
    releaseButton_->setIcon(SymbolIcon::icon(QStringLiteral("bolt.circle")));
    releaseColumn_->addWidget(releaseButton_, 0, Qt::AlignLeft);

    releaseProgress_ = new QWidget();
    auto* progress = new QHBoxLayout(releaseProgress_);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setSpacing(10);
    auto* bar = new QProgressBar();
    bar->setRange(0, 0);  // indeterminate
    bar->setTextVisible(false);
    bar->setFixedWidth(120);
    progress->addWidget(bar, 0, Qt::AlignVCenter);
    progress->addWidget(text(QStringLiteral("正在等待应用退出并重新采样…"), Typography::body()), 1);
    releaseColumn_->addWidget(releaseProgress_);
    return card(QStringLiteral("释放内存"), QStringLiteral("memorychip"), content);
}

QWidget* MemoryPage::buildApplications()
{
    auto* content = new QWidget();
    auto* rows = column(content, 10);
    rows->addWidget(text(QStringLiteral("按进程的物理占用 footprint 汇总；通过应用目录与父进程识别辅助进程，无法读取的部分明确标注。此合计不是系统总占用。"),
                         Typography::caption(), StyledLabel::Tone::muted));
    noApplications_ = text(QStringLiteral("暂无可读取的应用数据"), Typography::body(), StyledLabel::Tone::muted);
    rows->addWidget(noApplications_);
    applicationList_ = new MemoryApplicationList(ownProcess());
    connect(applicationList_, &MemoryApplicationList::quitRequested, this, &MemoryPage::confirmQuit);
    rows->addWidget(applicationList_);
    return card(QStringLiteral("应用与辅助进程占用"), QStringLiteral("app.badge"), content);
}

QWidget* MemoryPage::buildFooter()
{
    auto* content = new QWidget();
    auto* rows = column(content, 12);
    rows->addWidget(text(QStringLiteral("内存压力综合反映系统状态。以上计数不会相加为完整占用，也不用于推算健康评分。完整应用占用与系统压力请在活动监视器查看。"),
                         Typography::body()));
    // Nothing to report when no monitor is installed: the button simply does nothing.
    monitorButton_ = new NativeActionButton(QStringLiteral("打开活动监视器"), NativeActionButton::Emphasis::primary,
                                            [] { DesktopServices::openActivityMonitor(); });
    rows->addWidget(monitorButton_, 0, Qt::AlignLeft);
    return card(QStringLiteral("进一步检查"), QStringLiteral("info.circle"), content);
}

// --- Redrawing ---------------------------------------------------------------------------------

void MemoryPage::refreshAdvice()
{
    MemoryAdvice advice = MemoryAdvice::evaluate(model_.memorySamples(), dateNow());
    if (shownAdvice_ == advice) return;
    shownAdvice_ = advice;
    // The card's title and symbol are fixed when it is built, so a new advice gets a new card.
    auto* content = new QWidget();
    auto* rows = column(content, 8);
    rows->addWidget(text(QString::fromStdString(advice.explanation), Typography::body()));
    rows->addWidget(text(QString::fromStdString(advice.action), Typography::body(), StyledLabel::Tone::muted));
    rows->addWidget(text(QStringLiteral("系统压力为兼容性读数；不可获取时明确显示未知，不复刻活动监视器的压力曲线。"),
                         Typography::caption(), StyledLabel::Tone::muted));
    SectionCard* replacement = card(QString::fromStdString(advice.title), adviceSymbol(advice.severity), content);
    replacement->setObjectName(QStringLiteral("memory-advice"));
    replacement->setProperty("tessynSymbol", adviceSymbol(advice.severity));
    delete stack_->replaceWidget(adviceCard_, replacement);  // the layout hands back the old item
    delete adviceCard_;
    adviceCard_ = replacement;
}

void MemoryPage::refreshCounters()
{
    const std::optional<MemorySnapshot>& memory = model_.memory();
    countersCard_->setVisible(memory.has_value());
    memoryUnavailable_->setVisible(!memory.has_value());
    if (!memory) return;
    const uint64_t values[] = {memory->total, memory->active, memory->wired, memory->compressed, memory->free,
                               memory->swapUsed.value_or(0)};
    for (size_t i = 0; i < counters_.size(); ++i) counters_[i].value->setText(bytes(static_cast<int64_t>(values[i])));
    counters_.back().row->setVisible(memory->swapUsed.has_value());
    sampledAt_->setText(L(QStringLiteral("更新于 ") + sampleTime(memory->date) + QStringLiteral(" · 前台每 3 秒更新")));
}

void MemoryPage::refreshTrend()
{
    const std::vector<MemorySnapshot>& samples = model_.memorySamples();
    trendCard_->setVisible(samples.size() >= 2);
    trendChart_->setSamples(samples);
}

void MemoryPage::refreshRelease()
{
    bool releasing = model_.memoryReleasing();
    releaseButton_->setEnabled(!releasing && !model_.maintenanceBusy() && !releaseCandidates().empty());
    releaseProgress_->setVisible(releasing);

    const std::optional<MemoryReleaseOutcome>& outcome = model_.memoryReleaseOutcome();
    if (releaseResult_ && (!outcome || releaseResult_->outcome() != *outcome)) {
        delete releaseResult_;
        releaseResult_ = nullptr;
    }
    if (outcome && !releaseResult_) {
        releaseResult_ = new MemoryReleaseResultView(*outcome);
        releaseColumn_->addWidget(releaseResult_);
    }
}

void MemoryPage::refreshApplications()
{
    const std::vector<ApplicationMemory>& applications = model_.applications();
    noApplications_->setVisible(applications.empty());
    applicationList_->setVisible(!applications.empty());
    applicationList_->setApplications(applications);
    refreshRelease();
    // An open review always offers the current candidates.
    if (releaseReview_) releaseReview_->setCandidates(releaseCandidates());
}

// --- Actions -----------------------------------------------------------------------------------

void MemoryPage::openReleaseReview(const PageCarry* carry)
{
    if (releaseReview_) return;
    QPointer<MemoryPage> page(this);
    auto release = [page](std::vector<ApplicationMemory> chosen) {
        if (!page) return;
        whenFinished(page.data(), page->model_.releaseMemory(chosen), [page] { page->refreshRelease(); });
    };
    auto* review = new MemoryReleaseReview(model_, releaseCandidates(), release, ActionConfirmation::targetWindow(window()));
    review->setAttribute(Qt::WA_DeleteOnClose);
    review->setWindowModality(Qt::WindowModal);
    releaseReview_ = review;
    review->open();
    if (carry) carry->into(review);
}

void MemoryPage::confirmQuit(const ApplicationMemory& application)
{
    if (quitTarget_) return;  // one quit request awaits confirmation at a time
    quitTarget_ = application;
    QString detail = QStringLiteral("请先保存 ") + displayLine(application.name) +
                     QStringLiteral(" 中的工作。应用可能显示自己的保存确认；Tessyn不会强制结束进程。");
    QPointer<MemoryPage> page(this);
    ActionConfirmation::present(
        QStringLiteral("请求应用正常退出？"), detail, QStringLiteral("已保存工作，请求退出"),
        [page](bool confirmed) {
            if (!page) return;
            std::optional<ApplicationMemory> target = std::exchange(page->quitTarget_, std::nullopt);
            if (confirmed && target) page->model_.requestQuit(*target);
        },
        window(),
        [page](QDialog* dialog) {
            if (page) page->quitConfirmation_ = dialog;
        },
        ActionConfirmation::ReturnKey::confirms);
}

// --- Language change ---------------------------------------------------------------------------

std::any MemoryPage::handOver()
{
    Carried carried{listPosition(this), listPosition(applicationList_), applicationList_->currentApplication(), {},
                    quitTarget_};
    if (releaseReview_) carried.review = PageCarry::from(releaseReview_);
    dropWindow(releaseReview_);
    dropWindow(quitConfirmation_);
    return carried;
}

void MemoryPage::takeOver(std::any state)
{
    const auto* carried = std::any_cast<Carried>(&state);
    if (!carried) return;
    restoreListPosition(this, carried->position);
    restoreListPosition(applicationList_, carried->listPosition);
    applicationList_->setCurrentApplication(carried->currentApplication);
    if (carried->review) openReleaseReview(&*carried->review);
    if (carried->quitTarget) confirmQuit(*carried->quitTarget);
}
