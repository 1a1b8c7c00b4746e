#include "shell/VisibleWindows.h"

#include <QApplication>
#include <QWidget>

QWidget* firstVisibleWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isWindow() || !widget->isVisible()) continue;
        Qt::WindowType type = widget->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop) continue;
        return widget;
    }
    return nullptr;
}
