#include "dialogs/set_audio_tx.h"

#include <QEvent>

#include <memory>

#include "dialogs/job_runner.h"
#include "messages/notice.h"
#include "protocol/config_commands.h"
#include "ui_set_audio_tx.h"

Set_audio_tx::Set_audio_tx(QWidget* parent) : QWidget(parent), ui(new Ui::Set_audio_tx) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral(" Corvane Tool"));
}

Set_audio_tx::~Set_audio_tx() {
    delete ui;
}

int Set_audio_tx::get_audio_param(const char* ip, neb::CJsonObject command) {
    show_audio(ip, corvane::config::readTxAudio(ip, command));
    return 1;
}

void Set_audio_tx::show_audio(const char* ip, const corvane::config::TxAudio& audio) {
    // "AudioIn" is the list position itself (0 HDMI, 1 the jack).
    const bool known_input = audio.audio_in == 0 || audio.audio_in == 1;
    ui->audio_out->setCurrentIndex(known_input ? audio.audio_in : -1);
    ui->ipaddr->setText(QString::fromUtf8(ip));
}

void Set_audio_tx::on_cancel_button_clicked() {
    close();
}

void Set_audio_tx::on_set_button_clicked() {
    // No selection is sent as -1: the device judges it. Success needs the device to hold the
    // choice when it is read back, whatever the write's reply said.
    auto accepted = std::make_shared<bool>(false);
    corvane::JobRunner::of(runner_, this)
        ->start(
            [accepted, address = ui->ipaddr->text().toStdString(),
             input = ui->audio_out->currentIndex()] {
                *accepted = corvane::config::changeTxAudio(address, input).accepted;
            },
            [this, accepted] {
                finishAudioWrite(this, *accepted, QStringLiteral("音频设置失败，请检查输入设备"));
            });
}

void Set_audio_tx::changeEvent(QEvent* event) {
    // As in the receiver's window, this also puts "192.168.2.1" back on ipaddr.
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
