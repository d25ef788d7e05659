#include "maintenance/upgrade.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <cstring>
#include <memory>

#include "maintenance/upgrade_packet.h"

namespace corvane::maintenance {

namespace {

// At most this many buffers of what a device sent are thrown away at once, so that a device
// that sends without pause cannot hold the attempt in the discarding.
constexpr int kDiscardPasses = 64;

// Throws away what the device has sent so far: what Qt holds and what has reached the system.
void discard_received(QTcpSocket& socket) {
    for (int pass = 0; pass < kDiscardPasses; ++pass) {
        socket.skip(socket.bytesAvailable());
        if (socket.state() != QAbstractSocket::ConnectedState || !socket.waitForReadyRead(0)) {
            break;
        }
    }
    socket.skip(socket.bytesAvailable());
}

// Waits until everything written so far has gone to the network, within `ms` in all: one
// wait may return after part of a large packet went out. With `discard`, what the device
// sends meanwhile is thrown away, so that it never fills the receive buffer and stalls.
bool flush_within(QTcpSocket& socket, int ms, bool discard) {
    const QDeadlineTimer deadline(ms);
    while (socket.bytesToWrite() > 0) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !socket.waitForBytesWritten(int(left))) {
            return false;
        }
        if (discard) {
            discard_received(socket);
        }
    }
    return true;
}

// Completes the header in front of `payload_bytes` bytes at packet + 32 and sends the packet.
bool send_packet(QTcpSocket& socket, char* packet, PacketKind kind, qint64 payload_bytes,
                 int wait_ms) {
    write_header(packet, kind, quint32(payload_bytes));
    const qint64 total = payload_bytes + kHeaderBytes;
    return socket.write(packet, total) == total &&
           flush_within(socket, wait_ms, kind == PacketKind::Data);
}

// Sends a command. Whatever arrived before it was written is no reply to it: thrown away.
bool send_command(QTcpSocket& socket, char* packet, const QByteArray& text, int wait_ms) {
    discard_received(socket);
    std::memcpy(packet + kHeaderBytes, text.constData(), size_t(text.size()));
    return send_packet(socket, packet, PacketKind::Command, text.size(), wait_ms);
}

// Reads one reply into a cleared buffer, so nothing of an earlier reply can count; returns
// the bytes read, 0 when nothing came within the wait.
qint64 await_reply(QTcpSocket& socket, char* reply, int wait_ms) {
    std::memset(reply, 0, kReplyBytes);
    // A quick reply may already have been taken in while the command was being flushed; a
    // wait would then look for bytes that never come.
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(wait_ms)) {
        return 0;
    }
    return qMax<qint64>(0, socket.read(reply, kReplyBytes));
}

int percent_of(qint64 sent, qint64 size) {
    return int(qMin<qint64>(100, sent * 100 / size));
}

// Qt reads "010" as octal and "127.1" as 127.0.0.1: only the one text of each address that
// reads back unchanged is taken, so the image goes to the host the caller named.
bool is_canonical_ipv4(const QString& text, QHostAddress* host) {
    *host = QHostAddress(text);
    return host->protocol() == QAbstractSocket::IPv4Protocol && host->toString() == text;
}

}  // namespace

int result_of(UpgradeStep step) {
    switch (step) {
        case UpgradeStep::Done:
            return 1;
        case UpgradeStep::NameRule:
        case UpgradeStep::FileMissing:
        case UpgradeStep::FileUnreadable:
        case UpgradeStep::FileTooLarge:
        case UpgradeStep::FileEmpty:
        case UpgradeStep::FileRead:
            return 3;
        case UpgradeStep::EndWrite:
            return 4;
        default:
            return 2;
    }
}

UpgradeOutcome upgrade_device(QTcpSocket& socket, const QString& address,
                              const QString& device_type, const QString& image_path,
                              const ProgressCallback& progress, const UpgradeWaits& waits) {
    auto refused = [](UpgradeStep step) { return UpgradeOutcome{result_of(step), step}; };
    if (!image_name_fits(device_type, image_path)) {
        return refused(UpgradeStep::NameRule);
    }
    FileImageSource file;
    switch (file.open(image_path)) {
        case FileImageSource::Opened::Missing:
            return refused(UpgradeStep::FileMissing);
        case FileImageSource::Opened::Unreadable:
            return refused(UpgradeStep::FileUnreadable);
        case FileImageSource::Opened::Ok:
            break;
    }
    return send_image(socket, address, file, progress, waits);
}

UpgradeOutcome send_image(QTcpSocket& socket, const QString& address, ImageSource& image,
                          const ProgressCallback& progress, const UpgradeWaits& waits) {
    UpgradeOutcome outcome;
    // The size announced in the start command; the image must yield exactly this many bytes.
    const qint64 image_bytes = image.size();
    auto report = [&progress, &outcome, image_bytes](UpgradeProgress::Stage stage, int percent) {
        if (progress) {
            progress({stage, percent, outcome.bytes_sent, image_bytes});
        }
    };
    bool connected = false;
    auto fail = [&socket, &outcome, &connected](UpgradeStep step) {
        outcome.connection_closed = connected && socket.state() != QAbstractSocket::ConnectedState;
        // Whatever is still queued is dropped, so the next attempt starts unconnected.
        socket.abort();
        outcome.result = result_of(step);
        outcome.step = step;
        return outcome;
    };

    if (image_bytes > kLargestImage) {
        return fail(UpgradeStep::FileTooLarge);
    }
    if (image_bytes <= 0) {
        return fail(UpgradeStep::FileEmpty);
    }

    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.abort();
    }
    QHostAddress host;
    if (!is_canonical_ipv4(address, &host)) {
        return fail(UpgradeStep::Connect);
    }
    // A device that sends without end cannot make the attempt hold more than this.
    socket.setReadBufferSize(kHeldReceiveBytes);
    socket.connectToHost(host, kUpgradePort, QIODevice::ReadWrite);
    if (!socket.waitForConnected(waits.connect_ms)) {
        return fail(UpgradeStep::Connect);
    }
    connected = true;

    // One send buffer for every packet, header first; one reply buffer.
    const std::unique_ptr<char[]> packet(new char[kSendBufferBytes]());
    const std::unique_ptr<char[]> reply(new char[kReplyBytes]());

    if (!send_command(socket, packet.get(), start_command(qint32(image_bytes)),
                      waits.exchange_ms)) {
        return fail(UpgradeStep::StartWrite);
    }
    const qint64 start_reply = await_reply(socket, reply.get(), waits.exchange_ms);
    if (start_reply == 0) {
        return fail(UpgradeStep::StartReply);
    }
    if (!reply_confirms(reply.get(), start_reply)) {
        return fail(UpgradeStep::StartRefused);
    }

    report(UpgradeProgress::Stage::Ready, 0);
    int percent = 0;
    for (;;) {
        const qint64 n = image.read(packet.get() + kHeaderBytes, kPieceBytes);
        report(UpgradeProgress::Stage::Streaming, percent);
        // A file that grew or shrank while it was sent is not the image announced.
        if (n < 0 || n > image_bytes - outcome.bytes_sent ||
            (n == 0 && outcome.bytes_sent != image_bytes)) {
            return fail(UpgradeStep::FileRead);
        }
        if (n == 0) {
            break;
        }
        if (!send_packet(socket, packet.get(), PacketKind::Data, n, waits.exchange_ms)) {
            return fail(UpgradeStep::PieceWrite);
        }
        outcome.bytes_sent += n;
        percent = percent_of(outcome.bytes_sent, image_bytes);
        report(UpgradeProgress::Stage::Streaming, percent);
    }
    report(UpgradeProgress::Stage::Done, percent);

    if (!send_command(socket, packet.get(), finish_command(), waits.exchange_ms)) {
        return fail(UpgradeStep::FinishWrite);
    }
    const qint64 finish_reply = await_reply(socket, reply.get(), waits.exchange_ms);
    if (finish_reply == 0) {
        return fail(UpgradeStep::FinishReply);
    }
    if (!reply_confirms(reply.get(), finish_reply)) {
        return fail(UpgradeStep::FinishRefused);
    }

    if (!send_command(socket, packet.get(), end_command(), waits.exchange_ms)) {
        return fail(UpgradeStep::EndWrite);
    }
    socket.close();
    outcome.step = UpgradeStep::Done;
    outcome.result = result_of(outcome.step);
    return outcome;
}

void TransferEstimate::sample(double seconds, qint64 sent) {
    // The first sample with bytes sent is where the rate is measured from.
    if (first_sent_ == 0) {
        first_seconds_ = seconds;
        first_sent_ = sent;
    }
    last_seconds_ = seconds;
    last_sent_ = sent;
}

double TransferEstimate::rate() const {
    const double span = last_seconds_ - first_seconds_;
    return span > 0 && last_sent_ > first_sent_ ? (last_sent_ - first_sent_) / span : 0;
}

double TransferEstimate::seconds_left(qint64 image_bytes) const {
    const double per_second = rate();
    if (per_second <= 0) {
        return -1;
    }
    // Read at that rate from the start, the device is done at image_bytes / rate; never
    // sooner than the bytes not yet sent allow.
    return qMax(image_bytes / per_second - last_seconds_,
                qMax<qint64>(0, image_bytes - last_sent_) / per_second);
}

}  // namespace corvane::maintenance
