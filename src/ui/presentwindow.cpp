#include "ui/presentwindow.h"

#include <QGuiApplication>
#include <QWidget>

bool canPlaceWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void presentWindow(QWidget *window)
{
    window->show();
    // Qt's Wayland platform warns on every activation request.
    if (!canPlaceWindows())
        return;
    window->raise();
    window->activateWindow();
}
