#pragma once
#include <QWidget>

class QToolButton;

// A collapsible group: a one-line label with a disclosure arrow over its content, which is
// hidden until the label is clicked. Starts collapsed.
class DisclosureGroup : public QWidget {
    Q_OBJECT
public:
    explicit DisclosureGroup(QWidget* content, QWidget* parent = nullptr);
    // A group whose content is one muted, selectable text; both texts given translated.
    DisclosureGroup(const QString& title, const QString& text, const QFont& font, QWidget* parent = nullptr);

    void setLabel(const QString& text);
    const QString& label() const { return label_; }
    bool expanded() const { return expanded_; }
    void setExpanded(bool expanded);
    QToolButton* toggle() const { return toggle_; }
    QWidget* content() const { return content_; }

private:
    void revealContent();

    QToolButton* toggle_ = nullptr;
    QWidget* content_ = nullptr;
    QString label_;
    bool expanded_ = false;
};
