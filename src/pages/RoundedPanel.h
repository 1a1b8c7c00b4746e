#pragma once
#include <QWidget>

// A rounded rectangle on the surface colour, optionally outlined with the line colour; the
// panels of the files page (folder header, search row, results table) sit on it.
class RoundedPanel : public QWidget {
    Q_OBJECT
public:
    RoundedPanel(int radius, bool outlined, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int radius_;
    bool outlined_;
};
