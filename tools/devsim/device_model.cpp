#include "device_model.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace devsim {

namespace {

const int kBitRates[] = {128, 256, 512, 1024, 2048, 3072, 4096, 6144, 8192, 12288, 16384, 20408};

// Member look-up that ignores letter case: the tool writes "width", reads "Width".
QJsonValue member(const QJsonObject& object, const QString& name) {
    const QJsonValue exact = object.value(name);
    if (!exact.isUndefined())
        return exact;
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    return QJsonValue(QJsonValue::Undefined);
}

// "Parameters" may be an object or an array holding one object, depending on the command.
QJsonObject paramsObject(const QJsonValue& params) {
    if (params.isObject())
        return params.toObject();
    if (params.isArray() && params.toArray().size() > 0 && params.toArray().at(0).isObject())
        return params.toArray().at(0).toObject();
    return QJsonObject();
}

bool wholeNumber(const QJsonValue& v, int* out) {
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (std::floor(d) != d || std::fabs(d) > 2147483647.0)
        return false;
    *out = int(d);
    return true;
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The fields behind the members of a stream in the 1022 answer, in the order of
// streamMemberNames().
int StreamSettings::*const kStreamFields[] = {
    &StreamSettings::encodeMode,  &StreamSettings::picQuality,     &StreamSettings::bitRate,
    &StreamSettings::bitRateType, &StreamSettings::frameRate,      &StreamSettings::maxFrameRate,
    &StreamSettings::imageSize,   &StreamSettings::imageSizeAdapt, &StreamSettings::iFrameInterval,
    &StreamSettings::profile,     &StreamSettings::maxBitRate,
};

bool isTransmitter(quint32 type) {
    return type == 1102 || type == 1200;
}
bool isReceiver(quint32 type) {
    return type == 307 || type == 2000;
}

}  // namespace

QByteArray probeText() {
    return QByteArrayLiteral("{0x3c, 0x51, 0xe2, 0x07, 0x9a, 0x4d, 0xf6, 0x2b}");
}

DeviceModel::DeviceModel(const DeviceProfile& profile) : profile_(profile) {
    net_ = NetSettings{profile.ip, profile.mask, profile.gateway, profile.mac};
    reportIp_ = profile.reportIp;
    uptimeBase_ = profile.uptimeSeconds < 0 ? 0 : profile.uptimeSeconds;
    since_.start();
    // Main stream full HD, the others smaller, as a transmitter leaves the factory.
    streams_[1] = StreamSettings{0, 1, 4096, 0, 30, 60, 20, 0, 60, 1, 20408};
    streams_[2] = StreamSettings{0, 2, 1024, 1, 25, 60, 7, 0, 50, 1, 20408};
    streams_[3] = StreamSettings{1, 3, 512, 1, 15, 30, 2, 0, 30, 0, 4096};
    // Faulty start values are taken as they are: no device check stands in their way.
    for (size_t k = 0; k < streams_.size(); ++k)
        for (const auto& v : profile.streamValues[k])
            if (const int i = streamMemberNames().indexOf(v.first); i >= 0)
                streams_[k].*kStreamFields[i] = v.second;
}

qint64 DeviceModel::uptimeSeconds() const {
    return uptimeBase_ + since_.elapsed() / 1000;
}

QString DeviceModel::formatUptime(qint64 s) {
    return QStringLiteral("%1d %2:%3:%4")
        .arg(s / 86400)
        .arg((s / 3600) % 24, 2, 10, QLatin1Char('0'))
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

bool DeviceModel::supports(int code) const {
    switch (code) {
        case 1002:
        case 1008:
            return true;
        case 1022:
        case 1024:
        case 3052:
        case 3054:
        case 3129:
        case 3131:
            return !isReceiver(profile_.type);
        case 1034:
        case 1036:
            return !isTransmitter(profile_.type);
        default:
            return false;
    }
}

QJsonObject DeviceModel::discoveryObject() const {
    QJsonObject nic;
    nic.insert(QStringLiteral("LanNo"), 0);
    nic.insert(QStringLiteral("IpAddr"), reportedIp());
    nic.insert(QStringLiteral("SubNetMask"), net_.mask);
    nic.insert(QStringLiteral("GateWay"), net_.gateway);
    nic.insert(QStringLiteral("Mac"), net_.mac);
    nic.insert(QStringLiteral("Dhcp"), 0);
    QJsonObject o;
    o.insert(QStringLiteral("NetConfig"), QJsonArray{nic});
    o.insert(QStringLiteral("DeviceType"), qint64(profile_.type));
    o.insert(QStringLiteral("DeviceName"), profile_.name);
    o.insert(QStringLiteral("SerialNo"),
             QStringLiteral("CV") + QString(net_.mac).remove(QLatin1Char(':')).remove('-'));
    o.insert(QStringLiteral("SoftVersion"), profile_.version);
    o.insert(QStringLiteral("UpTime"), formatUptime(uptimeSeconds()));
    o.insert(QStringLiteral("HttpPort"), 80);
    return o;
}

QByteArray DeviceModel::discoveryReply() const {
    QJsonObject o = discoveryObject();
    switch (profile_.udp) {
        case UdpMode::Silent:
            return QByteArray();
        case UdpMode::Garbage:
            return QStringLiteral("CORVANE-DEVICE %1 type=%2 ver=%3 (plain text)\r\n")
                .arg(reportedIp())
                .arg(profile_.type)
                .arg(profile_.version)
                .toUtf8();
        case UdpMode::NoNetConfig:
            o.remove(QStringLiteral("NetConfig"));
            break;
        default:
            break;
    }
    int size = profile_.udpSize;
    if (profile_.udp == UdpMode::Oversize && size <= 1400)
        size = 1500;
    if (size <= 0)
        return compact(o);
    // Pad through a member of its own so the datagram stays valid JSON of the exact size.
    o.insert(QStringLiteral("Reserved"), QString());
    const QByteArray base = compact(o);
    if (size <= base.size())
        return size == base.size() ? base : compact(discoveryObject());
    o.insert(QStringLiteral("Reserved"), QString(size - base.size(), QLatin1Char('x')));
    return compact(o);
}

QByteArray DeviceModel::paddedBody(int code, int size) {
    if (size <= 0)
        return QByteArray();
    const QByteArray head = "{\"ProtocolCode\":" + QByteArray::number(code) + ",\"Message\":\"";
    const QByteArray tail = "\"}";
    if (size >= head.size() + tail.size())
        return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
    if (size >= 2)
        return '{' + QByteArray(size - 2, ' ') + '}';
    return QByteArray(size, ' ');
}

CommandAnswer DeviceModel::ok(int code, const QJsonObject& extra) const {
    QJsonObject o = extra;
    o.insert(QStringLiteral("ProtocolCode"), code);
    o.insert(QStringLiteral("Result"), 0);
    if (!o.contains(QStringLiteral("Message")) && !o.contains(QStringLiteral("Parameters")))
        o.insert(QStringLiteral("Message"), QStringLiteral("OK"));
    CommandAnswer a;
    a.code = code;
    a.body = compact(o);
    a.applied = true;
    return a;
}

CommandAnswer DeviceModel::error(int code, int status, int result, const QString& message) const {
    QJsonObject o;
    o.insert(QStringLiteral("ProtocolCode"), code);
    o.insert(QStringLiteral("Result"), result);
    o.insert(QStringLiteral("Message"), message);
    CommandAnswer a;
    a.status = status;
    a.code = code;
    a.body = compact(o);
    return a;
}

CommandAnswer DeviceModel::handle(const QByteArray& body) {
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &perr);
    if (perr.error != QJsonParseError::NoError || !doc.isObject())
        return error(0, 400, -1, QStringLiteral("request body is not a JSON object"));
    const QJsonObject request = doc.object();
    int code = 0;
    if (!wholeNumber(request.value(QStringLiteral("ProtocolCode")), &code))
        return error(0, 400, -1, QStringLiteral("ProtocolCode missing or not an integer"));
    if (!supports(code))
        return error(code, 200, -2, QStringLiteral("command not supported by this device"));
    const QJsonValue params = request.value(QStringLiteral("Parameters"));

    switch (code) {
        case 1002: {
            CommandAnswer a = ok(code, {{QStringLiteral("Message"), QStringLiteral("rebooting")}});
            a.restart = true;
            return a;
        }
        case 1008:
            return writeNetwork(code, params);
        case 1022:
            return readStreams(code);
        case 1024:
            return writeStream(code, params);
        case 1034:
            return readAudioOut(code, params);
        case 1036:
            return writeAudioOut(code, params);
        case 3052:
            return ok(code, {{QStringLiteral("Parameters"),
                              QJsonObject{{QStringLiteral("AudioIn"), audioIn_}}}});
        case 3054:
            return writeAudioIn(code, params);
        case 3129:
            return ok(code, {{QStringLiteral("Parameters"),
                              QJsonObject{{QStringLiteral("Enable"), customEnable_},
                                          {QStringLiteral("Width"), customWidth_},
                                          {QStringLiteral("Height"), customHeight_}}}});
        case 3131:
            return writeCustomResolution(code, params);
        default:
            return error(code, 200, -2, QStringLiteral("command not supported by this device"));
    }
}

CommandAnswer DeviceModel::readStreams(int code) const {
    QJsonArray list;
    for (int k = 0; k < profile_.streamCount; ++k) {
        const StreamSettings& s = streams_[size_t(k)];
        QJsonObject stream{{QStringLiteral("StreamId"), k}};
        const QStringList& members = streamMemberNames();
        for (int i = 0; i < members.size(); ++i)
            if (!profile_.streamOmitted[size_t(k)].contains(members[i]))
                stream.insert(members[i], s.*kStreamFields[i]);
        list.append(stream);
    }
    const QJsonObject channel{{QStringLiteral("ChnId"), 1}, {QStringLiteral("StreamList"), list}};
    return ok(code, {{QStringLiteral("Parameters"), QJsonArray{channel}}});
}

CommandAnswer DeviceModel::writeStream(int code, const QJsonValue& params) {
    const QJsonObject p = paramsObject(params);
    int streamId = -1;
    if (!wholeNumber(member(p, QStringLiteral("StreamId")), &streamId) || streamId < 0 ||
        streamId > 3)
        return error(code, 200, -1, QStringLiteral("StreamId must be 0 to 3"));
    int chn = 1;
    const QJsonValue chnValue = member(p, QStringLiteral("ChnId"));
    if (!chnValue.isUndefined() && (!wholeNumber(chnValue, &chn) || chn != 1))
        return error(code, 200, -1, QStringLiteral("ChnId must be 1"));

    struct Field {
        const char* name;
        int StreamSettings::*slot;
        int min;
        int max;
    };
    const int maxImage = streamId == 0 ? 25 : 22;
    const Field fields[] = {
        {"EncodeMode", &StreamSettings::encodeMode, 0, 2},
        {"PicQuality", &StreamSettings::picQuality, 0, 5},
        {"BitRate", &StreamSettings::bitRate, 128, 20408},
        {"BitRateType", &StreamSettings::bitRateType, 0, 1},
        {"FrameRate", &StreamSettings::frameRate, 1, 60},
        {"ImageSize", &StreamSettings::imageSize, 0, maxImage},
        {"ImageSizeAdapt", &StreamSettings::imageSizeAdapt, 0, 1},
        {"IFrameInterval", &StreamSettings::iFrameInterval, 1, 255},
        {"Profile", &StreamSettings::profile, 0, 2},
    };
    // Check everything first: a rejected write changes nothing.
    StreamSettings next = streams_[size_t(streamId)];
    for (const Field& f : fields) {
        const QJsonValue v = member(p, QLatin1String(f.name));
        if (v.isUndefined())
            continue;
        int n = 0;
        bool valid = wholeNumber(v, &n) && n >= f.min && n <= f.max;
        if (valid && f.slot == &StreamSettings::bitRate)
            valid = std::find(std::begin(kBitRates), std::end(kBitRates), n) != std::end(kBitRates);
        if (valid && f.slot == &StreamSettings::frameRate)
            valid = n <= next.maxFrameRate;
        if (!valid)
            return error(code, 200, -1,
                         QStringLiteral("%1 out of range").arg(QLatin1String(f.name)));
        next.*(f.slot) = n;
    }
    streams_[size_t(streamId)] = next;
    return ok(code);
}

CommandAnswer DeviceModel::writeNetwork(int code, const QJsonValue& params) {
    const QJsonObject p = paramsObject(params);
    NetSettings next;
    next.ip = member(p, QStringLiteral("IP")).toString();
    next.mask = member(p, QStringLiteral("SubNetMask")).toString();
    next.gateway = member(p, QStringLiteral("GateWay")).toString();
    next.mac = member(p, QStringLiteral("MacAddr")).toString().toUpper();
    if (!isIpv4Text(next.ip))
        return error(code, 200, -1, QStringLiteral("IP is not valid"));
    if (!isIpv4Text(next.mask))
        return error(code, 200, -1, QStringLiteral("SubNetMask is not valid"));
    if (!isIpv4Text(next.gateway))
        return error(code, 200, -1, QStringLiteral("GateWay is not valid"));
    if (!isMacText(next.mac))
        return error(code, 200, -1, QStringLiteral("MacAddr is not valid"));
    pending_ = next;
    return ok(code, {{QStringLiteral("Message"), QStringLiteral("saved, active after restart")}});
}

CommandAnswer DeviceModel::readAudioOut(int code, const QJsonValue& params) const {
    int display = 1;
    const QJsonValue v = member(paramsObject(params), QStringLiteral("DisplayId"));
    if (!v.isUndefined() && (!wholeNumber(v, &display) || display < 1 || display > 2))
        return error(code, 200, -1, QStringLiteral("DisplayId must be 1 or 2"));
    return ok(code, {{QStringLiteral("Parameters"),
                      QJsonObject{{QStringLiteral("DisplayId"), display},
                                  {QStringLiteral("AoDevId"), aoDev_[size_t(display - 1)]}}}});
}

CommandAnswer DeviceModel::writeAudioOut(int code, const QJsonValue& params) {
    const QJsonObject p = paramsObject(params);
    int display = 0;
    int device = 0;
    if (!wholeNumber(member(p, QStringLiteral("DisplayId")), &display) || display < 1 ||
        display > 2)
        return error(code, 200, -1, QStringLiteral("DisplayId must be 1 or 2"));
    if (!wholeNumber(member(p, QStringLiteral("AoDevId")), &device) || device < 1 || device > 2)
        return error(code, 200, -1, QStringLiteral("AoDevId must be 1 or 2"));
    aoDev_[size_t(display - 1)] = device;
    return ok(code);
}

CommandAnswer DeviceModel::writeAudioIn(int code, const QJsonValue& params) {
    int in = -1;
    if (!wholeNumber(member(paramsObject(params), QStringLiteral("AudioIn")), &in) || in < 0 ||
        in > 1)
        return error(code, 200, -1, QStringLiteral("AudioIn must be 0 or 1"));
    audioIn_ = in;
    return ok(code);
}

CommandAnswer DeviceModel::writeCustomResolution(int code, const QJsonValue& params) {
    const QJsonObject p = paramsObject(params);
    int enable = 1;
    int width = 0;
    int height = 0;
    const QJsonValue e = member(p, QStringLiteral("enable"));
    if (!e.isUndefined() && (!wholeNumber(e, &enable) || enable < 0 || enable > 1))
        return error(code, 200, -1, QStringLiteral("enable must be 0 or 1"));
    if (!wholeNumber(member(p, QStringLiteral("width")), &width) || width < 16 || width > 8192 ||
        !wholeNumber(member(p, QStringLiteral("height")), &height) || height < 16 || height > 8192)
        return error(code, 200, -1, QStringLiteral("width and height must be 16 to 8192"));
    customEnable_ = enable;
    customWidth_ = width;
    customHeight_ = height;
    return ok(code);
}

void DeviceModel::restart() {
    if (pending_) {
        net_ = *pending_;
        pending_.reset();
        reportIp_.clear();
    }
    uptimeBase_ = 0;
    since_.restart();
}

}  // namespace devsim
