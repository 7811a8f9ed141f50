#pragma once

class QWidget;

// False on Wayland, where the compositor alone places windows and decides
// which one is active.
bool canPlaceWindows();

// Shows a window in front of the others; on Wayland only shows it.
void presentWindow(QWidget *window);
