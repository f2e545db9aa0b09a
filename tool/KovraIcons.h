// Kovra's pictures, drawn in code so that one drawing serves the window, the
// About box, the tree and the desktop icon files the build writes.
#pragma once

#include "tool/KovraCore.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's icon, size x size pixels.
QImage KovraIconImage(int size);
QIcon KovraIcon();

// The tree's five 16 x 16 images.
QPixmap TreeImagePixmap(TreeImage image);

// A red cross in a circle (the no-access page).
QPixmap NoAccessPixmap(int size);

// One frame (0 to 10) of the busy animation.
QPixmap BusyFrame(int frame, QSize size);
