#pragma once
#include <QWidget>

// A panel of the pages and their sheets: the surface colour in a rounded rectangle,
// outlined with the line colour when asked. Colours are read at paint time, so the panel
// follows appearance changes without being rebuilt.
class RoundedPanel : public QWidget {
    Q_OBJECT
public:
    RoundedPanel(double radius, bool outlined, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_;
    bool outlined_;
};

class QVBoxLayout;

// An outlined panel holding a vertically scrolling column of rows on its surface; `rows`
// receives the column, which ends in a stretch (insert rows before it). The rows' controls take
// the keyboard focus; the list itself takes none.
RoundedPanel* scrollingPanel(double radius, QVBoxLayout*& rows);
