#pragma once
#include <QWidget>

class StyledLabel;

// The empty state of a page or list: a large muted symbol over a title and a description,
// centred. Texts are the Chinese source texts, translated once when built.
class ContentUnavailableView : public QWidget {
    Q_OBJECT
public:
    ContentUnavailableView(const QString& symbol, const QString& title, const QString& description,
                           QWidget* parent = nullptr);

    StyledLabel* titleLabel() const { return title_; }
    StyledLabel* descriptionLabel() const { return description_; }

private:
    StyledLabel* title_ = nullptr;
    StyledLabel* description_ = nullptr;
};
