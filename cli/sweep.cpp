#include "cli/sweep.h"

#include <QStringList>

#include <optional>

#include "cli/command_line.h"
#include "cli/output.h"
#include "discovery/device_order.h"
#include "discovery/discovery_transport.h"
#include "discovery/ipv4_address.h"

namespace corvane::cli {

std::vector<Device_Info> sweep(bool* incomplete) {
    int nothing_found = 0;
    DeviceList& list = device_list();
    list.collect_devices(nothing_found);
    // A sweep that found nothing leaves the list as it was; this process has no earlier one.
    std::vector<Device_Info> devices = nothing_found ? std::vector<Device_Info>{} : list.snapshot();
    order_for_table(devices);
    const bool bound = list.last_report().bound_reached;
    if (bound) {
        error(QStringLiteral("warning: a local address received %1 replies, the most a sweep "
                             "reads; devices beyond them may be missing")
                  .arg(discovery_datagrams_per_socket));
    }
    if (incomplete != nullptr) {
        *incomplete = bound;
    }
    return devices;
}

const Device_Info* findDevice(const std::vector<Device_Info>& devices, const QString& address) {
    // By value, whatever form of the address was given.
    const std::optional<std::uint32_t> wanted = addressValue(address);
    if (!wanted) {
        return nullptr;
    }
    for (const Device_Info& d : devices) {
        if (ipv4_value(d.ip) == wanted) {
            return &d;
        }
    }
    return nullptr;
}

QString conflictProblem(const std::vector<Device_Info>& devices, const QString& address) {
    const std::optional<std::uint32_t> wanted = addressValue(address);
    QStringList macs;
    for (const Device_Info& d : devices) {
        if (d.conflict && ipv4_value(d.ip) == wanted) {
            macs << printable(QString::fromUtf8(d.mac));
        }
    }
    if (macs.isEmpty()) {
        return {};
    }
    return QStringLiteral(
               "%1 devices answered the sweep with this address (MAC %2); the "
               "command could reach either, so nothing was sent")
        .arg(macs.size())
        .arg(macs.join(QStringLiteral(", ")));
}

}  // namespace corvane::cli
