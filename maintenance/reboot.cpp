#include "maintenance/reboot.h"

#include <chrono>
#include <thread>

#include "command/command_request.h"
#include "command/reply_rule.h"
#include "json/json_document.h"

namespace corvane::maintenance {

std::string reboot_command_text() {
    neb::CJsonObject command;
    command.PutInt32("ProtocolCode", 1002);
    return command.PrettyText();
}

QVector<RebootReply> reboot_devices(const QStringList& addresses) {
    const std::string body = reboot_command_text();
    QVector<RebootReply> replies;
    replies.reserve(addresses.size());
    // As large as the network window's buffer for the same command: a refusal cut short would
    // no longer read as one.
    char reply[4096];
    for (const QString& address : addresses) {
        reply[0] = '\0';
        send_http_cmd(address.toUtf8().constData(), body.c_str(), reply, sizeof reply);
        const std::string text(reply);
        if (command::reply_refuses(text)) {
            replies.append(RebootReply::Refused);
        } else {
            replies.append(command::reply_confirms(text, std::size_t(kRebootReplyMin))
                               ? RebootReply::Confirmed
                               : RebootReply::Silent);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kRebootPauseMs));
    }
    return replies;
}

}  // namespace corvane::maintenance
