#pragma once
#include <QWidget>

class QLabel;
class QToolButton;

// A titled group whose content shows only while it is expanded; it starts collapsed.
// The title and the content are plain texts, given already translated.
class DisclosureGroup : public QWidget {
    Q_OBJECT
public:
    DisclosureGroup(const QString& title, const QString& content, const QFont& font, QWidget* parent = nullptr);

    bool expanded() const { return expanded_; }
    void setExpanded(bool expanded);
    QToolButton* toggle() const { return toggle_; }
    QLabel* content() const { return content_; }

private:
    QToolButton* toggle_ = nullptr;
    QLabel* content_ = nullptr;
    bool expanded_ = false;
};
