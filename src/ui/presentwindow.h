#pragma once

class QWidget;

// False on Wayland, where the compositor alone places windows and decides
// which one is active.
bool canPlaceWindows();

// Shows a window in front of the others; on Wayland only shows it.
void presentWindow(QWidget *window);

class QRect;
// The primary screen's area for windows, or a 1024×768 one when there is no screen.
QRect availableScreenArea();
