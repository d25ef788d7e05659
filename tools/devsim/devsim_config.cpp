#include "devsim_config.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <array>
#include <cmath>

namespace devsim {

namespace {

const std::array<std::pair<const char*, UdpMode>, 7> kUdpModes{{
    {"normal", UdpMode::Normal},
    {"twice", UdpMode::Twice},
    {"silent", UdpMode::Silent},
    {"garbage", UdpMode::Garbage},
    {"oversize", UdpMode::Oversize},
    {"no-netconfig", UdpMode::NoNetConfig},
    {"late", UdpMode::Normal},  // lateness itself comes from udp-delay
}};

const std::array<std::pair<const char*, HttpMode>, 10> kHttpModes{{
    {"normal", HttpMode::Normal},
    {"empty", HttpMode::Empty},
    {"size", HttpMode::Size},
    {"bad-request", HttpMode::BadRequest},
    {"hang", HttpMode::Hang},
    {"slow", HttpMode::Slow},
    {"close", HttpMode::Close},
    {"bare-lf", HttpMode::BareLf},
    {"continue", HttpMode::Continue},
    {"until-close", HttpMode::UntilClose},
}};

const std::array<std::pair<const char*, FirmwareMode>, 9> kFirmwareModes{{
    {"normal", FirmwareMode::Normal},
    {"absent", FirmwareMode::Absent},
    {"start-refuse", FirmwareMode::StartRefuse},
    {"start-mute", FirmwareMode::StartMute},
    {"slow", FirmwareMode::Slow},
    {"drop", FirmwareMode::Drop},
    {"finish-refuse", FirmwareMode::FinishRefuse},
    {"finish-late", FirmwareMode::FinishLate},
    {"finish-mute", FirmwareMode::FinishMute},
}};

bool fail(QString* error, const QString& message) {
    if (error)
        *error = message;
    return false;
}

bool toInt(const QString& value, qint64 min, qint64 max, qint64* out) {
    bool ok = false;
    const qint64 v = value.trimmed().toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// A whole-number key, stored in `out` once it lies from `min` to `max`.
template <class Field>
bool intKey(const QString& key, const QString& value, qint64 min, qint64 max, Field* out,
            QString* error) {
    qint64 n = 0;
    if (toInt(value, min, max, &n)) {
        *out = Field(n);
        return true;
    }
    return fail(error, QStringLiteral("%1: '%2' is not a whole number from %3 to %4")
                           .arg(key, value)
                           .arg(min)
                           .arg(max));
}

// An address key (ip, mask, gateway), stored without surrounding blanks; `what` names the form
// a refusal asks for.
bool dottedKey(const QString& key, const QString& value, const char* what, QString* out,
               QString* error) {
    if (!isIpv4Text(value.trimmed()))
        return fail(error,
                    QStringLiteral("%1: '%2' is not a %3").arg(key, value, QLatin1String(what)));
    *out = value.trimmed();
    return true;
}

// The parts of a list value ("1008/1002", "BitRate:128/Profile:omit"): '/', ';' or blanks
// separate them.
QStringList listParts(const QString& value) {
    static const QRegularExpression separators(QStringLiteral("[/; ]"));
    return value.split(separators, Qt::SkipEmptyParts);
}

// A mode key: the value is one of the table's names (letter case ignored); a wrong one is
// answered with every name the key takes.
template <class Mode, std::size_t N>
bool modeKey(const std::array<std::pair<const char*, Mode>, N>& modes, const QString& key,
             const QString& value, Mode* out, QString* error) {
    const QString v = value.trimmed().toLower();
    QStringList names;
    for (const auto& m : modes) {
        if (v == QLatin1String(m.first)) {
            *out = m.second;
            return true;
        }
        names << QString::fromLatin1(m.first);
    }
    return fail(error, QStringLiteral("%1: unknown mode '%2' (%3)")
                           .arg(key, value, names.join(QStringLiteral(", "))));
}

template <class Mode, std::size_t N>
QString modeName(const std::array<std::pair<const char*, Mode>, N>& modes, Mode mode) {
    for (const auto& m : modes)
        if (m.second == mode)
            return QString::fromLatin1(m.first);
    return QString();
}

// The last three address bytes give a stable per-device MAC in the locally administered range.
QString macFor(const QString& ip) {
    const quint32 v = QHostAddress(ip).toIPv4Address();
    return QStringLiteral("02:43:56:%1:%2:%3")
        .arg((v >> 16) & 0xff, 2, 16, QLatin1Char('0'))
        .arg((v >> 8) & 0xff, 2, 16, QLatin1Char('0'))
        .arg(v & 0xff, 2, 16, QLatin1Char('0'))
        .toUpper();
}

QString kindName(quint32 type) {
    switch (type) {
        case 307:
            return QStringLiteral("RX");
        case 1102:
        case 1200:
            return QStringLiteral("TX");
        case 2000:
            return QStringLiteral("KVM");
        default:
            return QStringLiteral("DEV");
    }
}

QString jsonValueText(const QJsonValue& v) {
    if (v.isString())
        return v.toString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9.0e15)
            return QString::number(qint64(d));
        return QString::number(d, 'g', 17);
    }
    if (v.isArray()) {
        // "http-only": [1008, 1002]
        QStringList parts;
        for (const QJsonValue& e : v.toArray())
            parts << jsonValueText(e);
        return parts.join(QLatin1Char('/'));
    }
    return QString();
}

// "stream1=BitRate:20480/ImageSize:omit": start values and left-out members of one stream.
bool applyStreamFaults(DeviceProfile& profile, const QString& key, int stream, const QString& value,
                       QString* error) {
    QList<QPair<QString, int>> values;
    QStringList omitted;
    for (const QString& part : listParts(value)) {
        const QString name = part.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString text = part.section(QLatin1Char(':'), 1).trimmed();
        QString member;
        for (const QString& known : streamMemberNames())
            if (known.compare(name, Qt::CaseInsensitive) == 0)
                member = known;
        if (member.isEmpty())
            return fail(error, QStringLiteral("%1: '%2' is not a stream member (%3)")
                                   .arg(key, name, streamMemberNames().join(QLatin1Char(' '))));
        if (text.compare(QLatin1String("omit"), Qt::CaseInsensitive) == 0) {
            omitted << member;
            continue;
        }
        qint64 n = 0;
        if (!toInt(text, -2147483647LL - 1, 2147483647LL, &n))
            return fail(
                error,
                QStringLiteral("%1: '%2' needs Member:number or Member:omit").arg(key, part));
        values.append({member, int(n)});
    }
    profile.streamValues[size_t(stream)] = values;
    profile.streamOmitted[size_t(stream)] = omitted;
    return true;
}

}  // namespace

const QStringList& streamMemberNames() {
    static const QStringList names{
        QStringLiteral("EncodeMode"),     QStringLiteral("PicQuality"),
        QStringLiteral("BitRate"),        QStringLiteral("BitRateType"),
        QStringLiteral("FrameRate"),      QStringLiteral("MaxFrameRate"),
        QStringLiteral("ImageSize"),      QStringLiteral("ImageSizeAdapt"),
        QStringLiteral("IFrameInterval"), QStringLiteral("Profile"),
        QStringLiteral("MaxBitRate")};
    return names;
}

QString streamFaultText(const DeviceProfile& profile, int stream) {
    QStringList parts;
    for (const auto& v : profile.streamValues.at(size_t(stream)))
        parts << v.first + QLatin1Char(':') + QString::number(v.second);
    for (const QString& member : profile.streamOmitted.at(size_t(stream)))
        parts << member + QStringLiteral(":omit");
    return parts.join(QLatin1Char('/'));
}

bool isIpv4Text(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(\\.(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?"
                       "\\d)){3}$"));
    return re.match(text).hasMatch();
}

bool isMacText(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
    return re.match(text).hasMatch();
}

bool parseRestartSeconds(const QString& text, int* out) {
    if (text.trimmed().compare(QLatin1String("never"), Qt::CaseInsensitive) == 0) {
        *out = kRestartNever;
        return true;
    }
    qint64 n = 0;
    if (!toInt(text, 0, 3600, &n))
        return false;
    *out = int(n);
    return true;
}

QJsonValue restartSecondsValue(int seconds) {
    return seconds == kRestartNever ? QJsonValue(QStringLiteral("never")) : QJsonValue(seconds);
}

QString udpModeName(UdpMode mode) {
    return modeName(kUdpModes, mode);
}

QString httpModeName(HttpMode mode) {
    return modeName(kHttpModes, mode);
}

QString firmwareModeName(FirmwareMode mode) {
    return modeName(kFirmwareModes, mode);
}

bool applyDeviceKey(DeviceProfile& profile, const QString& rawKey, const QString& value,
                    QString* error) {
    const QString key = rawKey.trimmed().toLower();
    if (key == QLatin1String("ip")) {
        return dottedKey(key, value, "dotted IPv4 address", &profile.ip, error);
    } else if (key == QLatin1String("type")) {
        return intKey(key, value, 0, 0xffffffffLL, &profile.type, error);
    } else if (key == QLatin1String("mac")) {
        if (!isMacText(value.trimmed()))
            return fail(error, QStringLiteral("mac: '%1' is not a MAC address").arg(value));
        profile.mac = value.trimmed().toUpper();
    } else if (key == QLatin1String("version")) {
        profile.version = value;
    } else if (key == QLatin1String("mask")) {
        return dottedKey(key, value, "dotted mask", &profile.mask, error);
    } else if (key == QLatin1String("gateway")) {
        return dottedKey(key, value, "dotted address", &profile.gateway, error);
    } else if (key == QLatin1String("name")) {
        profile.name = value;
    } else if (key == QLatin1String("uptime")) {
        return intKey(key, value, 0, 100LL * 365 * 86400, &profile.uptimeSeconds, error);
    } else if (key == QLatin1String("udp")) {
        return modeKey(kUdpModes, key, value, &profile.udp, error);
    } else if (key == QLatin1String("udp-delay")) {
        return intKey(key, value, 0, 600000, &profile.udpDelayMs, error);
    } else if (key == QLatin1String("udp-size")) {
        return intKey(key, value, 0, 65507, &profile.udpSize, error);
    } else if (key == QLatin1String("http")) {
        return modeKey(kHttpModes, key, value, &profile.http, error);
    } else if (key == QLatin1String("http-size")) {
        return intKey(key, value, 0, 64 * 1024 * 1024, &profile.httpSize, error);
    } else if (key == QLatin1String("http-status")) {
        return intKey(key, value, 100, 599, &profile.httpStatus, error);
    } else if (key == QLatin1String("http-piece")) {
        return intKey(key, value, 1, 1 << 20, &profile.httpPieceBytes, error);
    } else if (key == QLatin1String("http-interval")) {
        return intKey(key, value, 0, 600000, &profile.httpIntervalMs, error);
    } else if (key == QLatin1String("http-only")) {
        profile.httpOnly.clear();
        for (const QString& p : listParts(value)) {
            qint64 n = 0;
            if (!intKey(key, p, 0, 0x7fffffff, &n, error))
                return false;
            profile.httpOnly << int(n);
        }
    } else if (key == QLatin1String("restart")) {
        if (!parseRestartSeconds(value, &profile.restartSeconds))
            return fail(error,
                        QStringLiteral("restart: '%1' is not a whole number from 0 to 3600 or "
                                       "never")
                            .arg(value));
    } else if (key == QLatin1String("report-ip")) {
        return dottedKey(key, value, "dotted IPv4 address", &profile.reportIp, error);
    } else if (key == QLatin1String("streams")) {
        return intKey(key, value, 0, 4, &profile.streamCount, error);
    } else if (key.size() == 7 && key.startsWith(QLatin1String("stream")) && key[6] >= '0' &&
               key[6] <= '3') {
        return applyStreamFaults(profile, key, key[6].digitValue(), value, error);
    } else if (key == QLatin1String("fw")) {
        return modeKey(kFirmwareModes, key, value, &profile.firmware, error);
    } else if (key == QLatin1String("fw-rate")) {
        return intKey(key, value, 1, 1 << 30, &profile.firmwareRate, error);
    } else if (key == QLatin1String("fw-drop")) {
        return intKey(key, value, 0, 0x7fffffffLL, &profile.firmwareDrop, error);
    } else if (key == QLatin1String("fw-delay")) {
        return intKey(key, value, 0, 600000, &profile.firmwareDelayMs, error);
    } else if (key == QLatin1String("fw-finish-delay")) {
        return intKey(key, value, 0, 600000, &profile.firmwareFinishDelayMs, error);
    } else if (key == QLatin1String("fw-version")) {
        profile.firmwareVersion = value;
    } else {
        return fail(error, QStringLiteral("unknown device key '%1'").arg(rawKey));
    }
    return true;
}

bool applyDeviceText(DeviceProfile& profile, const QString& text, QString* error) {
    const QStringList pairs = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(error, QStringLiteral("'%1' is not key=value").arg(pair));
        if (!applyDeviceKey(profile, pair.left(eq), pair.mid(eq + 1), error))
            return false;
    }
    return true;
}

bool applyDeviceJson(DeviceProfile& profile, const QJsonObject& object, QString* error) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isObject() || it.value().isNull())
            return fail(error, QStringLiteral("%1: needs a number or a text").arg(it.key()));
        if (!applyDeviceKey(profile, it.key(), jsonValueText(it.value()), error))
            return false;
    }
    return true;
}

void completeDevice(DeviceProfile& profile, int index) {
    const quint32 v = QHostAddress(profile.ip).toIPv4Address();
    if (profile.mac.isEmpty())
        profile.mac = macFor(profile.ip);
    if (profile.gateway.isEmpty())
        profile.gateway = QHostAddress((v & 0xffffff00u) | 1u).toString();
    if (profile.version.isEmpty()) {
        switch (profile.type) {
            case 307:
                profile.version = QStringLiteral("V2.4.1_20240311");
                break;
            case 2000:
                profile.version = QStringLiteral("V1.8.0_20231120");
                break;
            default:
                profile.version = QStringLiteral("V3.2.7_20240508");
                break;
        }
    }
    if (profile.name.isEmpty())
        profile.name = QStringLiteral("%1-%2")
                           .arg(kindName(profile.type))
                           .arg(v & 0xff, 3, 10, QLatin1Char('0'));
    if (profile.uptimeSeconds < 0)
        profile.uptimeSeconds = 3600 + qint64(index) * 437;
}

bool expandAddressList(const QString& text, QStringList* out, QString* error) {
    const QStringList parts =
        text.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const int dash = part.indexOf(QLatin1Char('-'));
        if (dash < 0) {
            if (!isIpv4Text(part))
                return fail(error, QStringLiteral("'%1' is not a dotted IPv4 address").arg(part));
            *out << part;
            continue;
        }
        // 198.51.100.10-20: the last byte runs over the range.
        const QString first = part.left(dash);
        qint64 last = 0;
        if (!isIpv4Text(first) || !toInt(part.mid(dash + 1), 0, 255, &last))
            return fail(error, QStringLiteral("'%1' is not an address range").arg(part));
        const quint32 base = QHostAddress(first).toIPv4Address();
        if (quint32(last) < (base & 0xff))
            return fail(error, QStringLiteral("'%1' runs backwards").arg(part));
        for (quint32 b = base & 0xff; b <= quint32(last); ++b)
            *out << QHostAddress((base & 0xffffff00u) | b).toString();
    }
    return true;
}

bool makeFleet(int count, const QStringList& addresses, const QStringList& taken,
               const QString& defaults, QList<DeviceProfile>* out, QString* error) {
    static const quint32 kinds[] = {1102, 307, 1200, 2000};
    const QSet<QString> used(taken.begin(), taken.end());
    int made = 0;
    for (const QString& ip : addresses) {
        if (made == count)
            break;
        if (used.contains(ip))
            continue;
        DeviceProfile profile;
        profile.ip = ip;
        profile.type = kinds[made % 4];
        if (!applyDeviceText(profile, defaults, error))
            return false;
        profile.ip = ip;
        out->append(profile);
        ++made;
    }
    if (made < count)
        return fail(
            error,
            QStringLiteral("fleet of %1 needs more addresses: only %2 free").arg(count).arg(made));
    return true;
}

bool parseConfigJson(const QByteArray& text, SimConfig* config, QString* error) {
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &perr);
    if (perr.error != QJsonParseError::NoError)
        return fail(
            error,
            QStringLiteral("config: %1 at offset %2").arg(perr.errorString()).arg(perr.offset));
    if (!doc.isObject())
        return fail(error, QStringLiteral("config: top level is not an object"));
    const QJsonObject root = doc.object();
    static const QStringList known{
        QStringLiteral("httpPort"), QStringLiteral("udp"),       QStringLiteral("restartSeconds"),
        QStringLiteral("log"),      QStringLiteral("readyFile"), QStringLiteral("defaults"),
        QStringLiteral("devices"),  QStringLiteral("fleet"),     QStringLiteral("imageHash")};
    for (auto it = root.begin(); it != root.end(); ++it)
        if (!known.contains(it.key()))
            return fail(error, QStringLiteral("config: unknown member '%1'").arg(it.key()));

    auto intMember = [&](const char* name, int min, int max, int* out) {
        const QJsonValue v = root.value(QLatin1String(name));
        if (v.isUndefined())
            return true;
        const double d = v.toDouble(-1.0);
        if (!v.isDouble() || std::floor(d) != d || d < min || d > max)
            return fail(error, QStringLiteral("config: %1 must be a whole number from %2 to %3")
                                   .arg(QLatin1String(name))
                                   .arg(min)
                                   .arg(max));
        *out = int(d);
        return true;
    };
    if (!intMember("httpPort", 0, 65535, &config->httpPort))
        return false;
    const QJsonValue restart = root.value(QLatin1String("restartSeconds"));
    if (!restart.isUndefined() &&
        ((!restart.isString() && !restart.isDouble()) ||
         !parseRestartSeconds(jsonValueText(restart), &config->restartSeconds)))
        return fail(error, QStringLiteral("config: restartSeconds must be a whole number from 0 "
                                          "to 3600 or \"never\""));
    for (const auto& [name, flag] :
         {std::pair{"udp", &config->udp}, std::pair{"imageHash", &config->imageHash}}) {
        const QJsonValue v = root.value(QLatin1String(name));
        if (v.isUndefined())
            continue;
        if (!v.isBool())
            return fail(
                error, QStringLiteral("config: %1 must be true or false").arg(QLatin1String(name)));
        *flag = v.toBool();
    }
    if (root.contains(QLatin1String("log")))
        config->logPath = root.value(QLatin1String("log")).toString();
    if (root.contains(QLatin1String("readyFile")))
        config->readyFile = root.value(QLatin1String("readyFile")).toString();

    const QJsonValue defaultsValue = root.value(QLatin1String("defaults"));
    if (!defaultsValue.isUndefined() && !defaultsValue.isObject())
        return fail(error, QStringLiteral("config: defaults must be an object"));
    const QJsonObject defaults = defaultsValue.toObject();

    const QJsonValue devicesValue = root.value(QLatin1String("devices"));
    if (!devicesValue.isUndefined() && !devicesValue.isArray())
        return fail(error, QStringLiteral("config: devices must be an array"));
    const QJsonArray devices = devicesValue.toArray();
    for (int i = 0; i < devices.size(); ++i) {
        if (!devices.at(i).isObject())
            return fail(error, QStringLiteral("config: devices[%1] is not an object").arg(i));
        DeviceProfile profile;
        QString e;
        if (!applyDeviceJson(profile, defaults, &e) ||
            !applyDeviceJson(profile, devices.at(i).toObject(), &e))
            return fail(error, QStringLiteral("config: devices[%1]: %2").arg(i).arg(e));
        if (profile.ip.isEmpty())
            return fail(error, QStringLiteral("config: devices[%1] has no ip").arg(i));
        config->devices << profile;
    }

    const QJsonValue fleetValue = root.value(QLatin1String("fleet"));
    if (!fleetValue.isUndefined()) {
        const QJsonObject fleet = fleetValue.toObject();
        const double count = fleet.value(QLatin1String("count")).toDouble(-1);
        if (!fleetValue.isObject() || count < 0 || std::floor(count) != count)
            return fail(error, QStringLiteral("config: fleet needs a whole \"count\""));
        QStringList addresses;
        const QJsonValue list = fleet.value(QLatin1String("addresses"));
        QString listText =
            list.isArray() ? jsonValueText(list).replace(QLatin1Char('/'), ' ') : list.toString();
        if (!expandAddressList(listText, &addresses, error))
            return false;
        QStringList taken;
        for (const DeviceProfile& d : config->devices)
            taken << d.ip;
        QStringList defaultPairs;
        for (auto it = defaults.begin(); it != defaults.end(); ++it)
            defaultPairs << it.key() + QLatin1Char('=') + jsonValueText(it.value());
        if (!makeFleet(int(count), addresses, taken, defaultPairs.join(QLatin1Char(',')),
                       &config->devices, error))
            return false;
    }
    return true;
}

bool validateConfig(const SimConfig& config, QString* error) {
    if (config.devices.isEmpty())
        return fail(error, QStringLiteral("no devices to simulate"));
    QSet<QString> ips;
    QSet<QString> macs;
    for (const DeviceProfile& d : config.devices) {
        if (!isIpv4Text(d.ip))
            return fail(error, QStringLiteral("device without a valid ip"));
        if (ips.contains(d.ip))
            return fail(error, QStringLiteral("ip %1 used twice").arg(d.ip));
        ips.insert(d.ip);
        if (!d.mac.isEmpty()) {
            if (macs.contains(d.mac))
                return fail(error, QStringLiteral("mac %1 used twice").arg(d.mac));
            macs.insert(d.mac);
        }
        if (d.http == HttpMode::Size && d.httpSize < 0)
            return fail(error, QStringLiteral("%1: http=size needs http-size").arg(d.ip));
    }
    if (config.httpPort < 0 || config.httpPort > 65535)
        return fail(error, QStringLiteral("http port out of range"));
    return true;
}

}  // namespace devsim
