#pragma once

#include <QWidget>

#include "json/json_document.h"
#include "protocol/config_commands.h"

class QEvent;

namespace corvane {
class JobRunner;
}

namespace Ui {
class Set_audio_tx;
}

// A transmitter's audio input: HDMI or the 3.5 mm jack. The device's address is the text of
// the label `ipaddr`, set by each read.
class Set_audio_tx : public QWidget {
    Q_OBJECT

public:
    explicit Set_audio_tx(QWidget* parent = nullptr);
    ~Set_audio_tx() override;

    // The worker its writes run on, shared with the main window; without one the window
    // makes its own.
    void set_runner(corvane::JobRunner* runner) { runner_ = runner; }

    // Reads the transmitter's input with `command` (3052) and always returns 1: without a
    // usable "AudioIn" the list shows no selection, and the address is set all the same.
    int get_audio_param(const char* ip, neb::CJsonObject command);
    // Puts a finished read into the form (the read may have run on another thread).
    void show_audio(const char* ip, const corvane::config::TxAudio& audio);

public slots:
    void on_cancel_button_clicked();
    void on_set_button_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::Set_audio_tx* ui;
    corvane::JobRunner* runner_ = nullptr;
};
