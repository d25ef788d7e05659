// The video parameters window: a transmitter's four encoder streams, one per tab.
#pragma once

#include <QWidget>

#include <array>

#include "json/json_document.h"
#include "protocol/video_commands.h"

class QComboBox;
class QEvent;
class QLineEdit;

namespace corvane {
class JobRunner;
}

namespace Ui {
class Video_Parameters;
}

// Created once by the main window, without parent, and hidden rather than destroyed when
// closed. Every read fills all four tabs; the set button writes the stream of the tab in front.
class Video_Parameters : public QWidget {
    Q_OBJECT

public:
    explicit Video_Parameters(QWidget* parent = nullptr);
    ~Video_Parameters() override;

    // The worker its writes run on, shared with the main window; without one the window
    // makes its own.
    void set_runner(corvane::JobRunner* runner) { runner_ = runner; }

    // Reads the streams of the transmitter at `address` with `command` (1022) and, when its
    // main stream uses the custom resolution, that resolution; fills the tabs from the reply.
    void get_video_param(const char* address, neb::CJsonObject command);
    // Puts a finished read into the form: the address into ipEdit, stream k into tab k + 1.
    void show_read(const char* address, const corvane::video::VideoRead& read);

private slots:
    void on_canselButton_clicked();
    void on_setButton_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    // The boxes of one stream tab.
    struct StreamTab {
        QComboBox* encodeMode;
        QComboBox* picQuality;
        QComboBox* bitRate;
        QComboBox* bitRateTepy;
        QLineEdit* frameRate;
        QLineEdit* maxFrame;
        QComboBox* imageSize;
        QComboBox* imageSizeAdapt;
        QLineEdit* iFrameRate;
        QLineEdit* max_iFrame;
        QComboBox* proFile;
    };

    void showStream(const StreamTab& tab, const corvane::video::Stream& stream);
    corvane::video::Stream streamOf(const StreamTab& tab) const;
    void showWriteStatus(corvane::video::WriteStatus status);

    Ui::Video_Parameters* ui;
    corvane::JobRunner* runner_ = nullptr;
    std::array<StreamTab, corvane::video::kStreamCount> tabs_;
    // Per tab: the last read gave all of its stream's values, so the tab may be written.
    std::array<bool, corvane::video::kStreamCount> stream_read_{};
};
