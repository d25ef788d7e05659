// What every picture tool does around a grab.
#pragma once

#include <QString>

class QPixmap;

// Handles events for `ms` milliseconds, so that windows map and paint before they are grabbed.
void settle(int ms);

// Saves `picture` to `out`; false, with a line on standard error, when it cannot be written.
bool savePicture(const QPixmap& picture, const QString& out);
