#pragma once
#include <QWidget>

class StyledLabel;

// Stands in for a page whose view is not built yet: its title and a short note.
class PendingPage : public QWidget {
    Q_OBJECT
public:
    explicit PendingPage(const QString& page, QWidget* parent = nullptr);
    QString page() const { return page_; }

private:
    QString page_;
    StyledLabel* title_ = nullptr;
    StyledLabel* note_ = nullptr;
    void retranslate();
};
