// The inner state of one simulated device and its answers: the discovery reply and the
// JSON commands on port 80. No sockets here, so the behaviour can be tested directly.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <array>
#include <optional>

#include "devsim_config.h"

namespace devsim {

// The 48-byte probe text a discovery sweep broadcasts.
QByteArray probeText();

struct NetSettings {
    QString ip;
    QString mask;
    QString gateway;
    QString mac;
};

struct StreamSettings {
    int encodeMode = 0;
    int picQuality = 0;
    int bitRate = 8192;
    int bitRateType = 0;
    int frameRate = 30;
    int maxFrameRate = 60;
    int imageSize = 22;
    int imageSizeAdapt = 1;
    int iFrameInterval = 60;
    int profile = 2;
    int maxBitRate = 20408;
};

// What the device sends back for one HTTP request.
struct CommandAnswer {
    int status = 200;
    QByteArray body;
    int code = 0;          // ProtocolCode read from the request (0 when none)
    bool applied = false;  // the command changed or read state as asked
    bool restart = false;  // the device restarts once the answer is out
};

class DeviceModel {
public:
    explicit DeviceModel(const DeviceProfile& profile);

    const DeviceProfile& profile() const { return profile_; }
    const NetSettings& net() const { return net_; }
    // "IpAddr" of the discovery reply: report-ip until settings of its own take effect.
    QString reportedIp() const { return reportIp_.isEmpty() ? net_.ip : reportIp_; }
    const std::optional<NetSettings>& pendingNet() const { return pending_; }
    const StreamSettings& stream(int index) const { return streams_.at(size_t(index)); }
    int audioOut(int displayId) const { return aoDev_.at(size_t(displayId - 1)); }
    int audioIn() const { return audioIn_; }
    int customWidth() const { return customWidth_; }
    int customHeight() const { return customHeight_; }

    qint64 uptimeSeconds() const;
    static QString formatUptime(qint64 seconds);

    // The reply to a probe, with the device's UDP fault applied (empty for "silent").
    QByteArray discoveryReply() const;
    // The reply without any fault: what a sound device says.
    QJsonObject discoveryObject() const;

    // Runs one command body. The HTTP fault is not applied here (the simulator does that).
    CommandAnswer handle(const QByteArray& body);

    // The restart: pending network settings take effect and the up-time starts again.
    void restart();
    // "SoftVersion" from now on (a firmware upgrade).
    void setVersion(const QString& version) { profile_.version = version; }

    // Whether this kind of device knows the command (encoder commands on transmitters,
    // audio-output commands on receivers; unknown kinds know everything).
    bool supports(int code) const;

    // A body of exactly `size` bytes that looks like a JSON answer to `code`.
    static QByteArray paddedBody(int code, int size);

private:
    CommandAnswer ok(int code, const QJsonObject& extra = {}) const;
    CommandAnswer error(int code, int status, int result, const QString& message) const;
    CommandAnswer readStreams(int code) const;
    CommandAnswer writeStream(int code, const QJsonValue& params);
    CommandAnswer writeNetwork(int code, const QJsonValue& params);
    CommandAnswer readAudioOut(int code, const QJsonValue& params) const;
    CommandAnswer writeAudioOut(int code, const QJsonValue& params);
    CommandAnswer writeAudioIn(int code, const QJsonValue& params);
    CommandAnswer writeCustomResolution(int code, const QJsonValue& params);

    DeviceProfile profile_;
    NetSettings net_;
    QString reportIp_;
    std::optional<NetSettings> pending_;
    std::array<StreamSettings, 4> streams_;
    std::array<int, 2> aoDev_{{2, 2}};
    int audioIn_ = 0;
    int customEnable_ = 0;
    int customWidth_ = 1920;
    int customHeight_ = 1080;
    qint64 uptimeBase_ = 0;
    QElapsedTimer since_;
};

}  // namespace devsim
