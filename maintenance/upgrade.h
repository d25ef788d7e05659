// One firmware upgrade attempt: the image streamed to a device's port 6000 over a blocking
// socket, confirmed, and the device told to install it and restart. No window: the caller
// shows progress and maps the outcome to its own messages.
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

#include "maintenance/image_source.h"

class QTcpSocket;

namespace corvane::maintenance {

constexpr int kConnectWaitMs = 6000;
// The wait for each write to be flushed and for each reply.
constexpr int kExchangeWaitMs = 20000;
// The start command carries the size as a signed 32-bit number.
constexpr qint64 kLargestImage = 0x7fffffff;
// The most the attempt holds of what a device sends: a reply is read from the first 4096
// bytes, anything beyond is thrown away unread.
constexpr qint64 kHeldReceiveBytes = 8192;

// Where an attempt ended.
enum class UpgradeStep {
    Done,            // delivered, confirmed, end command sent, connection closed
    NameRule,        // the image name does not fit the device type
    FileMissing,     // the Qt file object cannot open the path
    FileUnreadable,  // the binary open for reading fails
    FileTooLarge,    // 2^31 bytes or more
    FileEmpty,       // no bytes: a truncated download would leave the device without firmware
    Connect,         // no connection within 6000 ms
    StartWrite,      // start command not flushed within 20 s
    StartReply,      // no reply to start within 20 s
    StartRefused,    // reply to start without "OK"
    PieceWrite,      // an image piece not flushed within 20 s
    FileRead,        // reading the image failed, or its size changed while it was sent
    FinishWrite,     // finish command not flushed within 20 s
    FinishReply,     // no reply to finish within 20 s
    FinishRefused,   // reply to finish without "OK"
    EndWrite,        // end command not flushed within 20 s
};

struct UpgradeOutcome {
    // 1 delivered; 2 connection or protocol failure; 3 local file problem; 4 delivered and
    // confirmed, but the end command did not go out.
    int result = 0;
    UpgradeStep step = UpgradeStep::Done;
    qint64 bytes_sent = 0;  // image bytes handed to the network
    // The device had closed or reset the connection when a step after connecting failed.
    bool connection_closed = false;
};

// The result number that belongs to a step.
int result_of(UpgradeStep step);

struct UpgradeProgress {
    enum class Stage {
        Ready,      // connected and started; nothing of the image sent yet (percent 0)
        Streaming,  // a piece was read or sent; percent of the image sent so far
        Done,       // every piece has been read
    };
    Stage stage;
    int percent;
    qint64 bytes_sent = 0;   // image bytes handed to the network so far
    qint64 image_bytes = 0;  // the image's size as announced to the device
};
using ProgressCallback = std::function<void(const UpgradeProgress&)>;

// The time left of a transfer, from the rate at which the device takes the image. The first
// piece mostly lands in the system's send buffers, so the rate is measured from the moment it
// went out, and the device is taken to have been reading at that rate from the start.
class TransferEstimate {
public:
    // Records that `sent` image bytes had been handed to the network `seconds` after the
    // start exchange.
    void sample(double seconds, qint64 sent);
    // Bytes a second; 0 while unknown (before two pieces have gone out).
    double rate() const;
    // Seconds until the device holds all `image_bytes`; negative while unknown.
    double seconds_left(qint64 image_bytes) const;

private:
    double first_seconds_ = 0;
    qint64 first_sent_ = 0;
    double last_seconds_ = 0;
    qint64 last_sent_ = 0;
};

// How long each step may wait: the connection, and each write to be flushed and each reply.
// The window keeps the defaults; a terminal front end may choose its own.
struct UpgradeWaits {
    int connect_ms = kConnectWaitMs;
    int exchange_ms = kExchangeWaitMs;
};

// The whole attempt for a device whose address and type text are given: the image-name rule,
// opening the file, then send_image. The socket must not be in use; it is unconnected again
// when this returns.
UpgradeOutcome upgrade_device(QTcpSocket& socket, const QString& address,
                              const QString& device_type, const QString& image_path,
                              const ProgressCallback& progress = {},
                              const UpgradeWaits& waits = {});

// Streams an opened image to port 6000 of `address` (an IPv4 address in canonical dotted
// decimal; nothing is looked up, and any other text fails at the connection step): the size
// checks, connect, start exchange, the pieces, the finish exchange and the end command. A reply
// counts only when it arrived after its command was written. The image must yield exactly the
// size it had at the start. Every failure closes the connection.
UpgradeOutcome send_image(QTcpSocket& socket, const QString& address, ImageSource& image,
                          const ProgressCallback& progress = {}, const UpgradeWaits& waits = {});

}  // namespace corvane::maintenance
