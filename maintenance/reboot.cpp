#include "maintenance/reboot.h"

#include <chrono>
#include <thread>

namespace corvane::maintenance {

QVector<RebootReply> reboot_devices(const QStringList& addresses) {
    QVector<RebootReply> replies;
    replies.reserve(addresses.size());
    for (const QString& address : addresses) {
        const config::WriteResult restart = config::restartDevice(address.toUtf8().toStdString());
        replies.append(config::restartReplyOf(restart.reply));
        std::this_thread::sleep_for(std::chrono::milliseconds(kRebootPauseMs));
    }
    return replies;
}

}  // namespace corvane::maintenance
