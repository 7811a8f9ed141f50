#pragma once

#include <QRect>

// Window frames are given as in a bottom-left-origin screen space; Qt's origin
// is the top left of the screen's available area.
inline QRect frameFromBottomLeft(const QRect &available, int x, int y, int width, int height)
{
    return QRect(available.x() + x, available.y() + available.height() - y - height, width, height);
}
