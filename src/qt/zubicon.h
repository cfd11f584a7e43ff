#pragma once

#include <QPixmap>

// The program's icon, drawn rather than shipped: the window icon, the
// picture of a dragged idea and the icon installed for the desktop.
class ZubIcon
{
public:
    static QPixmap pixmap(int size);
};
