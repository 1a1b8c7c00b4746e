#include "shell/window/CachedPageHost.h"

#include "shell/window/FocusSpot.h"

#include <QLayout>
#include <QTimer>

CachedPageHost::CachedPageHost(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CachedPageHost::refresh(QWidget* page)
{
    if (auto* refreshable = dynamic_cast<RefreshablePage*>(page)) refreshable->refreshContent();
}

QWidget* CachedPageHost::build(const QString& id)
{
    QWidget* page = content_ ? content_(id) : new QWidget();
    page->setParent(this);
    page->setGeometry(rect());
    pages_.insert(id, page);
    return page;
}

void CachedPageHost::dropPages()
{
    // The change may come from a control on one of these pages (the language picker), so
    // they go later, out of sight and out of the host's children at once.
    for (QWidget* kept : std::as_const(pages_)) {
        kept->hide();
        kept->setParent(nullptr);
        kept->deleteLater();
    }
    pages_.clear();
}

void CachedPageHost::apply(const std::optional<QString>& destination, const QString& languageRevision,
                           bool refreshRoot)
{
    if (languageRevision_ != languageRevision) {
        languageRevision_ = languageRevision;
        // The control that had the focus on the shown page has it again on the rebuilt one.
        FocusSpot focus = FocusSpot::in(active_ ? pages_.value(*active_) : nullptr);
        dropPages();
        if (active_ && destination && *active_ == *destination) {
            QWidget* rebuilt = build(*active_);
            rebuilt->show();
            focus.restore(rebuilt);
            return;
        }
    }
    if (!active_ && !destination) return;
    if (active_ && destination && *active_ == *destination) {
        if (refreshRoot) {
            if (QWidget* shown = pages_.value(*destination)) refresh(shown);
        }
        return;
    }

    int generation = ++generation_;
    if (active_) {
        if (QWidget* previous = pages_.value(*active_)) previous->hide();
    }
    active_ = destination;
    if (!destination) return;

    const QString id = *destination;
    QWidget* shown = pages_.value(id);
    if (shown) {
        if (refreshRoot) refresh(shown);
    } else {
        shown = build(id);
    }
    shown->setGeometry(rect());
    shown->show();

    QPointer<CachedPageHost> host(this);
    QPointer<QWidget> placed(shown);
    DidMount report = didMount_;
    QTimer::singleShot(0, this, [host, placed, generation, id, report] {
        if (!host || !placed || host->generation_ != generation || host->active_ != id) return;
        placed->ensurePolished();
        if (QLayout* layout = placed->layout()) layout->activate();
        if (report) report(id);
    });
}

void CachedPageHost::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (active_) {
        if (QWidget* shown = pages_.value(*active_)) shown->setGeometry(rect());
    }
}
