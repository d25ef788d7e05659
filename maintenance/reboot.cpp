#include "maintenance/reboot.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "command_request.h"
#include "json/json_document.h"

namespace corvane::maintenance {

std::string reboot_command_text() {
    neb::CJsonObject command;
    command.PutInt32("ProtocolCode", 1002);
    return command.PrettyText();
}

QVector<bool> reboot_devices(const QStringList& addresses) {
    const std::string body = reboot_command_text();
    QVector<bool> answered;
    answered.reserve(addresses.size());
    char reply[256];
    for (const QString& address : addresses) {
        reply[0] = '\0';
        send_http_cmd(address.toUtf8().constData(), body.c_str(), reply, sizeof reply);
        answered.append(std::strlen(reply) >= std::size_t(kRebootReplyMin));
        std::this_thread::sleep_for(std::chrono::milliseconds(kRebootPauseMs));
    }
    return answered;
}

}  // namespace corvane::maintenance
