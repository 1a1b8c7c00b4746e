#pragma once

class QWidget;

// The first shown top-level window the user can work in; popups, tool tips and the desktop
// are not windows in this sense. None when no such window is shown.
QWidget* firstVisibleWindow();

// Whether a shown modal dialog keeps the user away from `window`: an application-modal one
// that is not the window or its own, or a window-modal one the window owns.
bool blockedByModal(const QWidget* window);
