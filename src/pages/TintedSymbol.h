#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

// A symbol tinted at paint time with a colour read from the live palette, so a switch between
// light and dark redraws it in the new colour instead of the one it was made with.
class TintedSymbol : public QWidget {
public:
    TintedSymbol(const QString& symbol, int side, std::function<QColor()> colour, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    std::function<QColor()> colour_;
};
