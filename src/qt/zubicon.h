#pragma once

#include <QImage>
#include <QPixmap>

// The program's icon, drawn rather than shipped: the window icon, the
// picture of a dragged idea and the icon installed for the desktop.
class ZubIcon
{
public:
    static QPixmap pixmap(int size);
    // Needs no application object, so the build can draw it too.
    static QImage image(int size);
};
