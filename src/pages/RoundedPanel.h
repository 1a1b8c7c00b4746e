#pragma once
#include <QWidget>

// A panel of the maintenance page and its sheets: the surface colour in a rounded rectangle,
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
