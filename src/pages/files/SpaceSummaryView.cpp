#include "pages/files/SpaceSummaryView.h"

#include "shell/controls/DisclosureGroup.h"
#include "shell/DisplayText.h"
#include "shell/LocalizedText.h"
#include "shell/style/Palette.h"
#include "shell/controls/StyledLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// One category's share of the largest category, drawn as a filled track.
class CategoryBar : public QWidget {
public:
    explicit CategoryBar(double fraction) : fraction_(std::clamp(fraction, 0.0, 1.0))
    {
        setFixedHeight(8);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    double fraction() const { return fraction_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        double radius = track.height() / 2;
        QPainterPath outline;
        outline.addRoundedRect(track, radius, radius);
        QColor back = Palette::ink();
        back.setAlphaF(0.1f);
        p.fillPath(outline, back);
        if (fraction_ <= 0) return;
        QRectF filled = track;
        filled.setWidth(std::max(track.height(), track.width() * fraction_));
        QPainterPath bar;
        bar.addRoundedRect(filled, radius, radius);
        p.fillPath(bar, Palette::accent());
    }

private:
    double fraction_;
};

} // namespace

SpaceSummaryView::SpaceSummaryView(QWidget* parent) : QWidget(parent)
{
    auto* content = new QWidget();
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 8, 0, 0);
    column->setSpacing(7);
    rows_ = new QVBoxLayout();
    rows_->setSpacing(7);
    column->addLayout(rows_);
    auto* note = new StyledLabel(Typography::caption(), StyledLabel::Tone::muted);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignHCenter);
    note->setText(L(QStringLiteral(
        "按扩展名分类；文件大小不是可回收物理空间，APFS 克隆、硬链接和废纸篓会影响实际收益。")));
    column->addWidget(note);

    group_ = new DisclosureGroup(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(group_);
}

void SpaceSummaryView::display(int64_t count, int64_t total, double elapsed, const std::vector<SpaceCategory>& categories)
{
    group_->setLabel(L(QStringLiteral("空间分布 · ") + QString::number(count) + QStringLiteral(" 项 · 文件大小 ") +
                       sizeText(total) + QStringLiteral(" · ") + QString::asprintf("%.1f", elapsed) +
                       QStringLiteral(" 秒")));
    if (categories == categories_ && rows_->count() == static_cast<int>(categories.size())) return;
    categories_ = categories;
    while (QLayoutItem* item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    int64_t largest = 1;
    for (const SpaceCategory& category : categories) largest = std::max(largest, category.size);
    for (const SpaceCategory& category : categories) {
        auto* row = new QWidget();
        row->setProperty("category", QString::fromStdString(category.name));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto* name = new StyledLabel(Typography::caption());
        name->setFixedWidth(120);
        name->setText(L(QString::fromStdString(category.name)));
        auto* figures = new StyledLabel(Typography::caption());
        figures->setFixedWidth(170);
        figures->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        figures->setText(L(QString::number(category.count) + QStringLiteral(" 项 · ") + sizeText(category.size)));
        line->addWidget(name);
        line->addWidget(new CategoryBar(double(category.size) / double(largest)), 1);
        line->addWidget(figures);
        rows_->addWidget(row);
    }
}

std::vector<std::pair<QString, double>> SpaceSummaryView::bars() const
{
    std::vector<std::pair<QString, double>> out;
    for (int i = 0; i < rows_->count(); ++i) {
        QWidget* row = rows_->itemAt(i)->widget();
        if (!row) continue;
        for (QWidget* child : row->findChildren<QWidget*>())
            if (auto* bar = dynamic_cast<CategoryBar*>(child))
                out.emplace_back(row->property("category").toString(), bar->fraction());
    }
    return out;
}
