#include "maintenance/upgrade_packet.h"

#include <QtEndian>

#include <cstring>

namespace corvane::maintenance {

void write_header(char* packet, PacketKind kind, quint32 payload_bytes) {
    std::memset(packet, 0, kHeaderBytes);
    std::memcpy(packet, "PKGH", 4);
    qToLittleEndian<quint32>(1, packet + 4);
    qToLittleEndian<quint32>(quint32(kind), packet + 8);
    qToLittleEndian<quint32>(payload_bytes, packet + 12);
    qToLittleEndian<quint32>(payload_bytes + kHeaderBytes, packet + 24);
}

QByteArray start_command(qint32 image_bytes) {
    return QByteArrayLiteral("CMD\tUPDATE\tSTART\t") + QByteArray::number(image_bytes) + '\t' +
           QByteArray::number(kStartTag) + '\t';
}

QByteArray finish_command() {
    return QByteArrayLiteral("CMD\tUPDATE\tFINISH\t");
}

QByteArray end_command() {
    return QByteArrayLiteral("CMD\tUPDATE\tEND\t");
}

bool reply_confirms(const char* reply, qint64 received) {
    if (received <= kHeaderBytes) {
        return false;
    }
    const char* text = reply + kHeaderBytes;
    const char* end =
        static_cast<const char*>(std::memchr(text, '\0', size_t(received - kHeaderBytes)));
    const qint64 length = end != nullptr ? end - text : received - kHeaderBytes;
    for (qint64 i = 0; i + 1 < length; ++i) {
        if (text[i] == 'O' && text[i + 1] == 'K') {
            return true;
        }
    }
    return false;
}

bool image_name_fits(const QString& device_type, const QString& path) {
    const QString needed = image_name_part(device_type);
    return needed.isEmpty() || path.contains(needed, Qt::CaseSensitive);
}

QString image_name_part(const QString& device_type) {
    if (device_type == QLatin1String("KVM_RX")) {
        return QStringLiteral("update_app_application-kvm_rx");
    }
    if (device_type == QLatin1String("TX")) {
        return QStringLiteral("update_app_tx");
    }
    if (device_type == QLatin1String("RX")) {
        return QStringLiteral("update_app_application-vwc");
    }
    return {};
}

}  // namespace corvane::maintenance
