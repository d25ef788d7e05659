// Finds a form widget by its object name; a missing one ends the test run at once.
#pragma once

#include <QString>
#include <QWidget>
#include <QtGlobal>

template <typename T>
T* widget(QWidget& window, const char* name) {
    T* w = window.findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("no widget %s", name);
    }
    return w;
}
