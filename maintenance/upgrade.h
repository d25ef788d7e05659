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
// The pause after each device of a batch.
constexpr int kUpgradePauseMs = 100;
// The start command carries the size as a signed 32-bit number.
constexpr qint64 kLargestImage = 0x7fffffff;

// Where an attempt ended.
enum class UpgradeStep {
    Done,            // delivered, confirmed, end command sent, connection closed
    NameRule,        // the image name does not fit the device type
    FileMissing,     // the Qt file object cannot open the path
    FileUnreadable,  // the binary open for reading fails
    FileTooLarge,    // 2^31 bytes or more
    Connect,         // no connection within 6000 ms
    StartWrite,      // start command not flushed within 20 s
    StartReply,      // no reply to start within 20 s
    StartRefused,    // reply to start without "OK"
    PieceWrite,      // an image piece not flushed within 20 s
    FileRead,        // reading the image failed before its end
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
    qint64 image_bytes = 0;  // the image's size as it stands now
};
using ProgressCallback = std::function<void(const UpgradeProgress&)>;

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

// Streams an opened image to port 6000 of `address` (a dotted IPv4 address; nothing is looked
// up): the size check, connect, start exchange, the pieces, the finish exchange and the end
// command. Every failure closes the connection.
UpgradeOutcome send_image(QTcpSocket& socket, const QString& address, ImageSource& image,
                          const ProgressCallback& progress = {}, const UpgradeWaits& waits = {});

}  // namespace corvane::maintenance
