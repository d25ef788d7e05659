#include "dialogs/set_audio.h"

#include <QEvent>

#include <memory>

#include "dialogs/job_runner.h"
#include "messages/notice.h"
#include "protocol/config_commands.h"
#include "ui_set_audio.h"

Set_Audio::Set_Audio(QWidget* parent) : QWidget(parent), ui(new Ui::Set_Audio) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral(" Corvane Tool"));
}

Set_Audio::~Set_Audio() {
    delete ui;
}

int Set_Audio::get_audio_param(const char* ip, neb::CJsonObject command) {
    return show_audio(ip, corvane::config::readRxAudio(ip, command));
}

int Set_Audio::show_audio(const char* ip, const corvane::config::RxAudio& audio) {
    if (!audio.usable) {
        return 0;
    }
    // Protocol values are the list positions plus one; any other output value leaves the
    // list without a selection.
    ui->video_out->setCurrentIndex(audio.display_id - 1);
    const bool known_output = audio.ao_dev_id == 1 || audio.ao_dev_id == 2;
    ui->audio_out->setCurrentIndex(known_output ? audio.ao_dev_id - 1 : -1);
    ui->ipaddr->setText(QString::fromUtf8(ip));
    return 1;
}

void Set_Audio::on_set_button_clicked() {
    // No selection (-1) is sent as 0: the device judges it. Success needs the device to hold the
    // choice when it is read back, whatever the write's reply said.
    const int display_id = ui->video_out->currentIndex() + 1;
    const int ao_dev_id = ui->audio_out->currentIndex() + 1;
    auto accepted = std::make_shared<bool>(false);
    corvane::JobRunner::of(runner_, this)
        ->start(
            [accepted, address = ui->ipaddr->text().toStdString(), display_id, ao_dev_id] {
                *accepted = corvane::config::changeRxAudio(address, display_id, ao_dev_id).accepted;
            },
            [this, accepted] {
                finishAudioWrite(this, *accepted, QStringLiteral("音频设置失败，请检查输出设备"));
            });
}

void Set_Audio::on_cancel_button_clicked() {
    close();
}

void Set_Audio::changeEvent(QEvent* event) {
    // Re-applying the texts also puts "192.168.2.1" back on ipaddr; the window is modal while
    // shown, and every showing follows a read that sets the address again.
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
