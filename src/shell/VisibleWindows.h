#pragma once

class QWidget;

// The first shown top-level window the user can work in; popups, tool tips and the desktop
// are not windows in this sense. None when no such window is shown.
QWidget* firstVisibleWindow();
