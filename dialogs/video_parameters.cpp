#include "dialogs/video_parameters.h"

#include <QEvent>
#include <QIntValidator>

#include <memory>

#include "dialogs/job_runner.h"
#include "messages/notice.h"
#include "messages/operator_messages.h"
#include "ui_video_parameters.h"

using corvane::OperatorMessages;
namespace video = corvane::video;

namespace {

// Whole numbers from 0 up to a bound. The plain integer validator lets a number above the
// bound stand while it is typed (61 in a 0-60 field), so such a keystroke is refused here.
class BoundedIntValidator : public QIntValidator {
public:
    BoundedIntValidator(int top, QObject* parent) : QIntValidator(0, top, parent) {}

    State validate(QString& input, int& pos) const override {
        const State state = QIntValidator::validate(input, pos);
        bool number = false;
        const int value = input.toInt(&number);
        return state == Intermediate && number && value > top() ? Invalid : state;
    }
};

}  // namespace

Video_Parameters::Video_Parameters(QWidget* parent)
    : QWidget(parent), ui(new Ui::Video_Parameters) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral(" Corvane Tool"));

    tabs_ = {{
        {ui->encodeMode_1, ui->picQuality_1, ui->bitRate_1, ui->bitRateTepy_1, ui->frameRate_1,
         ui->maxFrame_1, ui->imageSize_1, ui->imageSizeAdapt_1, ui->iFrameRate_1, ui->max_iFrame_1,
         ui->proFile_1},
        {ui->encodeMode_2, ui->picQuality_2, ui->bitRate_2, ui->bitRateTepy_2, ui->frameRate_2,
         ui->maxFrame_2, ui->imageSize_2, ui->imageSizeAdapt_2, ui->iFrameRate_2, ui->max_iFrame_2,
         ui->proFile_2},
        {ui->encodeMode_3, ui->picQuality_3, ui->bitRate_3, ui->bitRateTepy_3, ui->frameRate_3,
         ui->maxFrame_3, ui->imageSize_3, ui->imageSizeAdapt_3, ui->iFrameRate_3, ui->max_iFrame_3,
         ui->proFile_3},
        {ui->encodeMode_4, ui->picQuality_4, ui->bitRate_4, ui->bitRateTepy_4, ui->frameRate_4,
         ui->maxFrame_4, ui->imageSize_4, ui->imageSizeAdapt_4, ui->iFrameRate_4, ui->max_iFrame_4,
         ui->proFile_4},
    }};

    for (const StreamTab& tab : tabs_) {
        tab.frameRate->setValidator(new BoundedIntValidator(video::kMaxFrameRate, this));
        tab.iFrameRate->setValidator(new BoundedIntValidator(video::kMaxIFrameInterval, this));
    }
    ui->any_width->setValidator(new BoundedIntValidator(video::kMaxCustomWidth, this));
    ui->any_height->setValidator(new BoundedIntValidator(video::kMaxCustomHeight, this));
}

Video_Parameters::~Video_Parameters() {
    delete ui;
}

void Video_Parameters::get_video_param(const char* address, neb::CJsonObject command) {
    show_read(address, video::readVideo(address, command));
}

void Video_Parameters::show_read(const char* address, const video::VideoRead& read) {
    ui->ipEdit->setText(QString::fromUtf8(address));
    ui->ipEdit->setEnabled(false);
    for (std::size_t k = 0; k < tabs_.size(); ++k) {
        showStream(tabs_[k], read.streams.streams[k]);
        stream_read_[k] = video::unreadMembers(read.streams.streams[k]).empty();
    }
    // The main stream's custom size belongs to its values.
    stream_read_[0] = stream_read_[0] &&
                      (!read.custom_asked || (read.custom.width >= 0 && read.custom.height >= 0));

    ui->tip->setText(QStringLiteral("未设置成自定义分辨率模式请勿填入宽高"));
    ui->tip->setEnabled(false);
    if (read.custom_asked) {
        ui->any_width->setText(QString::number(read.custom.width));
        ui->any_height->setText(QString::number(read.custom.height));
        ui->any_width->setEnabled(true);
        ui->any_height->setEnabled(true);
    } else {
        ui->any_width->clear();
        ui->any_height->clear();
    }
}

void Video_Parameters::showStream(const StreamTab& tab, const video::Stream& stream) {
    // A value outside a box's items leaves it without selection; an unknown bit rate leaves
    // the bit-rate box as it was.
    tab.encodeMode->setCurrentIndex(stream.encode_mode);
    tab.picQuality->setCurrentIndex(stream.pic_quality);
    const int rate = video::bitRateIndex(stream.bit_rate);
    if (rate >= 0) {
        tab.bitRate->setCurrentIndex(rate);
    }
    tab.bitRateTepy->setCurrentIndex(stream.bit_rate_type);
    tab.frameRate->setText(QString::number(stream.frame_rate));
    tab.maxFrame->setText(QStringLiteral("1~%1").arg(stream.max_frame_rate));
    tab.maxFrame->setEnabled(false);
    tab.imageSize->setCurrentIndex(stream.image_size);
    tab.imageSizeAdapt->setCurrentIndex(stream.image_size_adapt);
    tab.iFrameRate->setText(QString::number(stream.iframe_interval));
    tab.max_iFrame->setText(QStringLiteral("1 ~ 255"));
    tab.max_iFrame->setEnabled(false);
    tab.proFile->setCurrentIndex(stream.profile);
}

video::Stream Video_Parameters::streamOf(const StreamTab& tab) const {
    video::Stream stream;
    stream.encode_mode = tab.encodeMode->currentIndex();
    stream.pic_quality = tab.picQuality->currentIndex();
    stream.bit_rate = video::bitRateAt(tab.bitRate->currentIndex());
    stream.bit_rate_type = tab.bitRateTepy->currentIndex();
    // An empty field reads as 0, which the checks of the write refuse.
    stream.frame_rate = video::decimalValue(tab.frameRate->text().toStdString());
    stream.image_size = tab.imageSize->currentIndex();
    stream.image_size_adapt = tab.imageSizeAdapt->currentIndex();
    stream.iframe_interval = video::decimalValue(tab.iFrameRate->text().toStdString());
    stream.profile = tab.proFile->currentIndex();
    return stream;
}

void Video_Parameters::on_canselButton_clicked() {
    close();
}

void Video_Parameters::on_setButton_clicked() {
    video::StreamWrite write;
    write.stream_id = ui->tabWidget->currentIndex();
    write.values = streamOf(tabs_[std::size_t(write.stream_id)]);
    // A tab the read left at -1 (or at an earlier device's bit rate) is not the device's.
    write.values_read = stream_read_[std::size_t(write.stream_id)];
    write.custom_size = ui->imageSize_1->currentIndex() == video::kCustomImageSize;
    if (!ui->any_width->text().isEmpty()) {
        write.custom_width = video::decimalValue(ui->any_width->text().toStdString());
    }
    if (!ui->any_height->text().isEmpty()) {
        write.custom_height = video::decimalValue(ui->any_height->text().toStdString());
    }

    // The address field holds at most 15 bytes of address, as the device table gives it.
    const QByteArray address = ui->ipEdit->text().toUtf8().left(15);
    // Success is what the device holds when read back, not what its reply says. The write
    // and its read-back run on the worker.
    auto status = std::make_shared<video::WriteStatus>(video::WriteStatus::NotAccepted);
    corvane::JobRunner::of(runner_, this)
        ->start([status, address,
                 write] { *status = video::changeStream(address.constData(), write).status; },
                [this, status] { showWriteStatus(*status); });
}

void Video_Parameters::showWriteStatus(corvane::video::WriteStatus status) {
    switch (status) {
        case video::WriteStatus::CustomSizeMissing:
            showNotice(QStringLiteral("请填入分辨率宽高"));
            break;
        case video::WriteStatus::FrameRateZero:
            OperatorMessages::information(nullptr, QStringLiteral("配置失败"),
                                          QStringLiteral("帧率不能为0"));
            break;
        case video::WriteStatus::IFrameIntervalZero:
            OperatorMessages::information(nullptr, QStringLiteral("配置失败"),
                                          QStringLiteral("I帧不能为0"));
            break;
        case video::WriteStatus::Written:
            showNotice(QStringLiteral("视频参数配置成功！"));
            close();
            break;
        case video::WriteStatus::NotAccepted:
        case video::WriteStatus::NotHeld:
        case video::WriteStatus::NotRead:
        case video::WriteStatus::NoSuchStream:
            // The operator's values stay in the window, so the write can be tried again.
            showNotice(QStringLiteral("视频参数配置失败！"));
            break;
    }
}

void Video_Parameters::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
