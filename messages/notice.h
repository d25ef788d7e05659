// The outcome messages of the main and configuration windows: information boxes without
// parent, title "提示", fixed Chinese texts that no catalogue translates.
#pragma once

#include <QString>

class QWidget;

void showNotice(const QString& text);

// An audio write's outcome: on success the message, then `window` closes; on failure the
// message, and the window stays open with the operator's choice, to try again or cancel.
void finishAudioWrite(QWidget* window, bool accepted, const QString& failure_text);
