#include "tools/screenshots/shot_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTextStream>

void settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

bool savePicture(const QPixmap& picture, const QString& out) {
    if (!picture.save(out)) {
        QTextStream(stderr) << "cannot write " << out << "\n";
        return false;
    }
    return true;
}
