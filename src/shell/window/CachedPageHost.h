#pragma once
#include "shell/window/CarriedPage.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

// A page root that redraws itself from the model when asked (the overview).
class RefreshablePage {
public:
    virtual ~RefreshablePage() = default;
    virtual void refreshContent() = 0;
};

// Keeps one widget tree per page identifier and shows at most one of them, filling the host.
// A page is built on its first placement and kept while others are shown; after each placement
// the host lays the page out and reports it on a later turn of the event loop, unless another
// placement happened meanwhile. Pages draw their texts once, so a language change drops every
// kept page and builds the shown one again at once; the others are built when next shown.
// Each rebuilt page takes over what its predecessor handed over (CarriedPage): its search,
// disclosures, list positions and open sheets, and the control that had the focus.
class CachedPageHost : public QWidget {
    Q_OBJECT
public:
    using Content = std::function<QWidget*(const QString& page)>;
    using DidMount = std::function<void(const QString& page)>;

    explicit CachedPageHost(QWidget* parent = nullptr);

    void setContent(Content content) { content_ = std::move(content); }
    void setDidMount(DidMount didMount) { didMount_ = std::move(didMount); }

    // The host's update: show `destination` (none: show nothing). `refreshRoot` asks the shown
    // page to redraw from the model even when it is already shown.
    void apply(const std::optional<QString>& destination, const QString& languageRevision, bool refreshRoot);

    QWidget* page(const QString& id) const { return pages_.value(id); }
    QStringList pageIds() const { return pages_.keys(); }
    const std::optional<QString>& active() const { return active_; }
    int generation() const { return generation_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Content content_;
    DidMount didMount_;
    QHash<QString, QWidget*> pages_;
    QHash<QString, PageCarry> carried_;  // from dropped pages, until their successors are built
    std::optional<QString> active_;
    int generation_ = 0;
    QString languageRevision_ = QStringLiteral("en");

    static void refresh(QWidget* page);
    QWidget* build(const QString& id);
    // Shows a page just built, with what its predecessor handed over.
    void place(const QString& id, QWidget* built);
    void dropPages();
};
