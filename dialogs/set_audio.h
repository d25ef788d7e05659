#pragma once

#include <QWidget>

#include "json/json_document.h"
#include "protocol/config_commands.h"

class QEvent;

namespace corvane {
class JobRunner;
}

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

    // The worker its writes run on, shared with the main window; without one the window
    // makes its own.
    void set_runner(corvane::JobRunner* runner) { runner_ = runner; }

    // Reads the receiver's setting with `command` (1034). Returns 1 when the form now holds the
    // device's values and address, 0 when the reply gave no usable "DisplayId"; then the form
    // keeps everything it held.
    int get_audio_param(const char* ip, neb::CJsonObject command);
    // Puts a finished read into the form (the read may have run on another thread); the same
    // result as get_audio_param.
    int show_audio(const char* ip, const corvane::config::RxAudio& audio);

public slots:
    void on_set_button_clicked();
    void on_cancel_button_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::Set_Audio* ui;
    corvane::JobRunner* runner_ = nullptr;
};
