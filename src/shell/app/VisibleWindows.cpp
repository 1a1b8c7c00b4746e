#include "shell/app/VisibleWindows.h"

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

// Whether `owner` is `widget` or one of the widgets and windows it belongs to.
static bool ownedBy(const QWidget* widget, const QWidget* owner)
{
    for (; widget; widget = widget->parentWidget())
        if (widget == owner) return true;
    return false;
}

bool blockedByModal(const QWidget* window)
{
    if (!window) return false;
    window = window->window();
    for (QWidget* modal : QApplication::topLevelWidgets()) {
        if (!modal->isVisible() || modal->windowModality() == Qt::NonModal || ownedBy(window, modal)) continue;
        if (modal->windowModality() == Qt::ApplicationModal) return true;
        // Window-modal: it blocks the windows it belongs to, and their own windows.
        for (const QWidget* up = window; up; up = up->parentWidget())
            if (ownedBy(modal->parentWidget(), up)) return true;
    }
    return false;
}
