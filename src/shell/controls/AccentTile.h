#pragma once
#include <QWidget>

// A faint wash of the accent colour in a rounded square (a disc when the radius is half the
// side), read at paint time so it follows the appearance: the tile behind an application's
// icon, or, with a symbol drawn in the accent colour in its middle, a badge.
class AccentTile : public QWidget {
public:
    AccentTile(int side, double radius, double opacity, QWidget* parent = nullptr);
    void setSymbol(const QString& symbol, int symbolSide);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_;
    double opacity_;
    QString symbol_;
    int symbolSide_ = 0;
};
