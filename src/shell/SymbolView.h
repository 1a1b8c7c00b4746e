#pragma once
#include <QWidget>

// One symbol drawn at paint time, so it follows appearance changes like the text around it.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& symbol, int side, QWidget* parent = nullptr);
    const QString& symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};
