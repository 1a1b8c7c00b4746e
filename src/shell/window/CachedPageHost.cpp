#include "shell/window/CachedPageHost.h"

#include <QApplication>
#include <QAbstractScrollArea>
#include <QLayout>
#include <QPointer>
#include <QScrollBar>
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

void CachedPageHost::place(const QString& id, QWidget* built)
{
    // A page built after a language change takes over what its predecessor held, the control
    // that had the focus included, before it shows; any other page just shows.
    carried_.take(id).into(built);
}

void CachedPageHost::dropPages()
{
    // The change may come from a control on one of these pages (the language picker), so
    // they go later, out of sight and out of the host's children at once. What each page
    // holds waits for its successor; a page dropped again before it was rebuilt keeps what
    // its predecessor left.
    for (auto it = pages_.cbegin(); it != pages_.cend(); ++it) {
        QWidget* kept = it.value();
        carried_.insert(it.key(), PageCarry::from(kept));
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
        dropPages();
        if (active_ && destination && *active_ == *destination) {
            place(*active_, build(*active_));
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
        if (QWidget* previous = pages_.value(*active_)) {
            // Hiding a page that holds the focus passes the focus on through the page, and a
            // scrolling page then scrolls back to the control it last focused. It returns where
            // it was left.
            std::vector<std::pair<QPointer<QScrollBar>, int>> positions;
            QWidget* focused = QApplication::focusWidget();
            for (QWidget* up = focused; up && previous->isAncestorOf(focused); up = up == previous ? nullptr : up->parentWidget())
                if (auto* area = qobject_cast<QAbstractScrollArea*>(up))
                    for (QScrollBar* bar : {area->verticalScrollBar(), area->horizontalScrollBar()})
                        positions.emplace_back(bar, bar->value());
            previous->hide();
            for (const auto& [bar, value] : positions)
                if (bar) bar->setValue(value);
        }
    }
    active_ = destination;
    if (!destination) return;

    const QString id = *destination;
    QWidget* shown = pages_.value(id);
    if (shown) {
        if (refreshRoot) refresh(shown);
        shown->setGeometry(rect());
        shown->show();
    } else {
        shown = build(id);
        place(id, shown);
    }

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
