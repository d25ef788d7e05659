#pragma once

#include <QWidget>

#include "json/json_document.h"

class QEvent;

namespace Ui {
class Set_Audio;
}

// A receiver's audio output: for which video output channel, on which device (3.5 mm jack or
// HDMI). The device's address is the text of the label `ipaddr`, set by each read.
class Set_Audio : public QWidget {
    Q_OBJECT

public:
    explicit Set_Audio(QWidget* parent = nullptr);
    ~Set_Audio() override;

    // Reads the receiver's setting with `command` (1034). Returns 1 when the form now holds the
    // device's values and address, 0 when the reply gave no usable "DisplayId"; then the form
    // keeps everything it held.
    int get_audio_param(const char* ip, neb::CJsonObject command);

public slots:
    void on_set_button_clicked();
    void on_cancel_button_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::Set_Audio* ui;
};
