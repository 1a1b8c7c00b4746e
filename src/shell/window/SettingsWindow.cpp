#include "shell/window/SettingsWindow.h"

#include "shell/app/AppSettings.h"
#include "shell/style/BrandArtwork.h"
#include "shell/window/CarriedPage.h"
#include "shell/LocalizedText.h"
#include "shell/window/PageContent.h"

#include <QEvent>
#include <QLayout>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(AppModel& model, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("settings-window"));
    setWindowIcon(BrandArtwork::image());
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(contentPadding, contentPadding, contentPadding, contentPadding);
    content_ = makeSettingsContent(model);
    column->addWidget(content_);
    setFixedWidth(fixedWidth);
    retitle();
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this, &model](const QString& key) {
        if (key != AppSettings::languageKey) return;
        retitle();
        rebuild(model);
    });
}

void SettingsWindow::rebuild(AppModel& model)
{
    // The content draws its texts once; the old one may hold the control that changed the
    // language, so it goes later, handing over what it holds to the new one.
    QWidget* old = content_;
    PageCarry carry = PageCarry::from(old);
    content_ = makeSettingsContent(model);
    // The layout hands back the item that held the old content; it is the caller's.
    delete layout()->replaceWidget(old, content_);
    old->hide();
    old->setParent(nullptr);
    old->deleteLater();
    carry.into(content_);
}

void SettingsWindow::retitle() { setWindowTitle(L(QStringLiteral("设置"))); }

void SettingsWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) retitle();
    QWidget::changeEvent(event);
}
