// Gorlin's pictures, drawn in code so that one drawing serves the window, the
// About box and the desktop icon files the build writes (gorlin_icon).
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's icon, size x size pixels.
QImage GorlinIconImage(int size);
QIcon GorlinIcon();

// The build status shown after a build: a check mark or a cross.
enum class GorlinStatus { Success, Failure };
QPixmap GorlinStatusPixmap(GorlinStatus status, int size, qreal devicePixelRatio = 1.0);
