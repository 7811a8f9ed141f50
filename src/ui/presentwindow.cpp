#include "ui/presentwindow.h"

#include <QGuiApplication>
#include <QScreen>
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

QRect availableScreenArea()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}
