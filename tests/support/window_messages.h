// What the configuration windows show and send, and what their tests hand them: the messages
// shown (shown_messages.h), the windows the main window made, a list's items, a document's
// text on the wire, the network window's input and the audio windows' reads and selections.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QTest>

#include "dialogs/job_runner.h"
#include "dialogs/set_audio.h"
#include "dialogs/set_audio_tx.h"
#include "json/json_document.h"
#include "protocol/config_commands.h"
#include "tests/support/shown_messages.h"

// Lets every write or read a window started on its worker end, the windows handling their
// events meanwhile. False when one still runs after `timeout_ms`.
inline bool jobsEnded(int timeout_ms = 60000) {
    const QDeadlineTimer deadline(timeout_ms);
    while (corvane::JobRunner::anyBusy() && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    return !corvane::JobRunner::anyBusy();
}

// The top-level windows of class T (the main window makes one of each).
template <typename T>
QList<T*> windowsOf() {
    QList<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* t = qobject_cast<T*>(w)) {
            found << t;
        }
    }
    return found;
}

inline QStringList itemsOf(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) {
        items << box->itemText(i);
    }
    return items;
}

// A command document as the wire carries it.
inline QByteArray wireText(const neb::CJsonObject& document) {
    return QByteArray::fromStdString(document.PrettyText());
}

// The document set_network_info takes: a row's address, mask, gateway and MAC.
inline neb::CJsonObject networkInfo(const QString& ip, const QString& mask = "255.255.255.0",
                                    const QString& gateway = "10.0.0.1",
                                    const QString& mac = "02:43:56:00:00:0A") {
    neb::CJsonObject info;
    info.PutString("setIp", ip.toStdString());
    info.PutString("setMask", mask.toStdString());
    info.PutString("setGateway", gateway.toStdString());
    info.PutString("setMac", mac.toStdString());
    return info;
}

// One read of an audio window (Set_Audio or Set_audio_tx) from `address`; its result.
inline int readAudio(QWidget* window, const QString& address) {
    const QByteArray ip = address.toLatin1();
    if (auto* rx = qobject_cast<Set_Audio*>(window)) {
        return rx->get_audio_param(ip.constData(), corvane::config::rxAudioReadDocument());
    }
    return qobject_cast<Set_audio_tx*>(window)->get_audio_param(
        ip.constData(), corvane::config::txAudioReadDocument());
}

// The selected indexes of an audio window: video_out (receiver only), then audio_out.
inline QList<int> audioSelection(QWidget* window) {
    QList<int> selection;
    if (auto* video = window->findChild<QComboBox*>(QStringLiteral("video_out"))) {
        selection << video->currentIndex();
    }
    return selection << window->findChild<QComboBox*>(QStringLiteral("audio_out"))->currentIndex();
}

// Selects in the order audioSelection lists.
inline void chooseAudio(QWidget* window, QList<int> choice) {
    if (auto* video = window->findChild<QComboBox*>(QStringLiteral("video_out"))) {
        video->setCurrentIndex(choice.takeFirst());
    }
    window->findChild<QComboBox*>(QStringLiteral("audio_out"))->setCurrentIndex(choice.takeFirst());
}
