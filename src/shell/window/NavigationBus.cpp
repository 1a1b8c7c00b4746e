#include "shell/window/NavigationBus.h"

NavigationBus& NavigationBus::shared()
{
    static NavigationBus* bus = new NavigationBus();
    return *bus;
}

void NavigationBus::post(QWidget* window, const QString& page) { emit navigate(window, page); }
