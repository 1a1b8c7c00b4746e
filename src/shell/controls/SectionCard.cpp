#include "shell/controls/SectionCard.h"

#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"
#include "shell/style/Palette.h"
#include "shell/style/SymbolIcon.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

static constexpr int kHeaderIconSide = 16;

SectionCard::SectionCard(const QString& title, const QString& icon, QWidget* content, QWidget* parent)
    : QWidget(parent), title_(title), icon_(icon), content_(content)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(14);

    auto* header = new QHBoxLayout();
    header->setSpacing(7);
    iconLabel_ = new QLabel(this);
    iconLabel_->setFixedSize(kHeaderIconSide, kHeaderIconSide);
    titleLabel_ = new QLabel(this);
    titleLabel_->setObjectName(QStringLiteral("card-title"));
    QFont headline = titleLabel_->font();
    headline.setWeight(QFont::DemiBold);
    headline.setPointSizeF(headline.pointSizeF() + 1);
    titleLabel_->setFont(headline);
    header->addWidget(iconLabel_, 0, Qt::AlignVCenter);
    header->addWidget(titleLabel_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    column->addLayout(header);
    if (content_) column->addWidget(content_);
    // Keep an empty card's header at the top of whatever height it gets.
    column->addStretch(1);

    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    retranslate();
    refreshIcon();
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) retranslate();
    });
}

void SectionCard::retranslate() { titleLabel_->setText(L(title_)); }

void SectionCard::refreshIcon()
{
    QIcon icon = SymbolIcon::icon(icon_);
    iconLabel_->setPixmap(icon.isNull() ? QPixmap()
                                        : icon.pixmap(QSize(kHeaderIconSide, kHeaderIconSide), devicePixelRatioF()));
}

void SectionCard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) refreshIcon();
    QWidget::changeEvent(event);
}

void SectionCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(outline, 16, 16);
    p.fillPath(path, Palette::surface());
    p.setPen(QPen(Palette::line(), 1));
    p.drawPath(path);
}

SectionCard* card(const QString& title, const QString& icon, QWidget* content)
{
    return new SectionCard(title, icon, content);
}
