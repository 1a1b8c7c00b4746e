#pragma once
#include <QColor>
#include <QWidget>
#include <functional>

// One symbol drawn at paint time, so it follows appearance changes like the text around it:
// in the palette's text colour, or in `colour` read from the live palette at each paint.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& symbol, int side, QWidget* parent = nullptr);
    SymbolView(const QString& symbol, int side, std::function<QColor()> colour, QWidget* parent = nullptr);
    const QString& symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    std::function<QColor()> colour_;
};
