#include "pages/memory/MemoryReleaseResultView.h"

#include "engine/ByteFormat.h"
#include "shell/controls/SheetWidgets.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/controls/StyledLabel.h"

#include <QVBoxLayout>

namespace {

QString names(const std::vector<ApplicationMemory>& applications)
{
    QStringList out;
    for (const ApplicationMemory& application : applications) out << displayLine(application.name);
    return out.join(QStringLiteral("、"));
}

QString bytes(uint64_t value) { return QString::fromStdString(formatFileSize(static_cast<int64_t>(value))); }

} // namespace

MemoryReleaseResultView::MemoryReleaseResultView(const MemoryReleaseOutcome& outcome, QWidget* parent)
    : QWidget(parent), outcome_(outcome)
{
    setObjectName(QStringLiteral("memory-release-result"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto line = [&](const QString& text, const QFont& font, StyledLabel::Tone tone = StyledLabel::Tone::ink) {
        auto* label = SheetWidgets::text(font, tone);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setText(text);
        column->addWidget(label);
    };

    line(L(QStringLiteral("内存释放结果")), Typography::headline());
    // Labels are translated alone; names and byte counts are shown as they are.
    line(L(QStringLiteral("已退出：")) + names(outcome_.exited), Typography::callout());
    if (!outcome_.waiting.empty())
        line(L(QStringLiteral("仍在运行，请检查保存提示：")) + names(outcome_.waiting), Typography::callout());
    if (!outcome_.rejected.empty())
        line(L(QStringLiteral("未接受请求或身份已变化：")) + names(outcome_.rejected), Typography::callout());
    if (outcome_.before && outcome_.after) {
        line(L(QStringLiteral("空闲页面（前 → 后）：")) + bytes(outcome_.before->free) + QStringLiteral(" → ") +
                 bytes(outcome_.after->free),
             Typography::callout());
        line(L(QStringLiteral("这是系统采样变化，包含其他应用活动，不等于本次操作释放量。")), Typography::caption(),
             StyledLabel::Tone::muted);
    } else {
        line(L(QStringLiteral("无法读取前后内存变化；未推算释放量。")), Typography::caption());
    }
}

QStringList MemoryReleaseResultView::lines() const
{
    QStringList out;
    for (const StyledLabel* label : findChildren<StyledLabel*>(QString(), Qt::FindDirectChildrenOnly)) out << label->text();
    return out;
}
