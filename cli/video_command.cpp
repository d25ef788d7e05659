// video: a transmitter's four encoder streams shown, or one of them changed and read back.
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/output.h"
#include "protocol/video_commands.h"

namespace corvane::cli {

namespace {

namespace video = corvane::video;

const char* const kVideoHelp =
    R"(Usage: corvane-cli video ADDR... [--stream 1-4] [SETTING...] [--timeout SECONDS] [--json]

A transmitter's four video encoder streams (1 is the main stream). Without settings prints
the streams (only --stream's, when given), one line each, in the spelling the settings take.
With settings reads the streams, changes the given values of one stream (--stream, default
1) and keeps the others, checks them as the window does, writes the stream (on stream 1 a
custom size first) and reads it back; a device that does not then hold every written value
fails at the step read-back. A frame rate or I-frame interval of 0 is refused at the step
check, and a value of the stream that the read did not give (and no setting gives) at the
step read, before anything is written.

Settings:
  --codec h264|mjpeg|h265
  --quality best|next-best|better|general|poor|bad
  --bitrate N             128, 256, 512, 1024, 2048, 3072, 4096, 6144, 8192, 12288, 16384
                          or 20408
  --rate-mode fixed|variable
  --fps N                 frame rate, 0 to 60
  --size SIZE             a resolution of the list: QCIF, HCIF, CIF, HD1, D1, 960x576,
                          320x240, 640x480, 800x600, 1024x768, 1280x768, 1440x900,
                          1280x1024, 1400x1050, 1600x1200, 2048x1536, 854x480, 1680x1050,
                          1920x1200, 2560x1600, 1280x720, 1280x960, 1920x1080 (streams 2 to
                          4 end here), 2560x1440, 3840x2160; on stream 1 also any other WxH
                          up to 3840x2160, or custom:WxH, for the custom size
  --follow-input yes|no   whether the resolution follows the input
  --gop N                 I-frame interval, 0 to 255
  --profile base|main|high

Options:
  --stream N              the stream, 1 to 4
%1  --json                  a JSON array, one object per device with its "streams"
  -h, --help              this text
)";

const QStringList kCodecs{"h264", "mjpeg", "h265"};
const QStringList kQualities{"best", "next-best", "better", "general", "poor", "bad"};
const QStringList kRateModes{"fixed", "variable"};
const QStringList kFollow{"no", "yes"};
const QStringList kProfiles{"base", "main", "high"};

// The settings given for one stream.
struct StreamChange {
    std::optional<int32_t> encode_mode, pic_quality, bit_rate, bit_rate_type, frame_rate,
        image_size, image_size_adapt, iframe_interval, profile;
    std::optional<std::pair<int32_t, int32_t>> custom;

    bool any() const {
        return encode_mode || pic_quality || bit_rate || bit_rate_type || frame_rate ||
               image_size || image_size_adapt || iframe_interval || profile;
    }
    void applyTo(video::Stream& s) const {
        s.encode_mode = encode_mode.value_or(s.encode_mode);
        s.pic_quality = pic_quality.value_or(s.pic_quality);
        s.bit_rate = bit_rate.value_or(s.bit_rate);
        s.bit_rate_type = bit_rate_type.value_or(s.bit_rate_type);
        s.frame_rate = frame_rate.value_or(s.frame_rate);
        s.image_size = image_size.value_or(s.image_size);
        s.image_size_adapt = image_size_adapt.value_or(s.image_size_adapt);
        s.iframe_interval = iframe_interval.value_or(s.iframe_interval);
        s.profile = profile.value_or(s.profile);
    }
};

QString sizeName(int32_t size) {
    return QString::fromLatin1(video::kImageSizeNames[std::size_t(size)])
        .replace(QLatin1Char('*'), QLatin1Char('x'));
}

// --size: a resolution of the list, or on stream 0 a custom width and height.
void parseSize(const QString& given, int stream, StreamChange& change) {
    QString text = given.toLower();
    const bool custom = text.startsWith(QLatin1String("custom:"));
    const int last = stream == 0 ? video::kCustomImageSize - 1 : video::kLastSubStreamImageSize;
    if (!custom) {
        for (int32_t i = 0; i < video::kCustomImageSize; ++i) {
            if (sizeName(i).toLower() == text) {
                if (i > last) {
                    throw UsageError{QStringLiteral("stream %1 offers the sizes up to 1920x1080")
                                         .arg(stream + 1)};
                }
                change.image_size = i;
                return;
            }
        }
    }
    const QRegularExpressionMatch wh = QRegularExpression(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"))
                                           .match(text.mid(custom ? 7 : 0));
    if (!wh.hasMatch()) {
        throw UsageError{
            QStringLiteral("--size takes a size of the list, WxH or custom:WxH, not '%1'")
                .arg(given)};
    }
    if (stream != 0) {
        throw UsageError{QStringLiteral("only stream 1 takes a custom size")};
    }
    const int32_t width = wh.captured(1).toInt();
    const int32_t height = wh.captured(2).toInt();
    if (width > video::kMaxCustomWidth || height > video::kMaxCustomHeight) {
        throw UsageError{QStringLiteral("a custom size is at most %1x%2")
                             .arg(video::kMaxCustomWidth)
                             .arg(video::kMaxCustomHeight)};
    }
    change.image_size = video::kCustomImageSize;
    change.custom = std::make_pair(width, height);
}

StreamChange parseStreamChange(const Invocation& in, int stream) {
    StreamChange change;
    change.encode_mode = in.choice(QStringLiteral("codec"), kCodecs);
    change.pic_quality = in.choice(QStringLiteral("quality"), kQualities);
    change.bit_rate = in.integer(QStringLiteral("bitrate"), 0, std::numeric_limits<int>::max());
    if (change.bit_rate && video::bitRateIndex(*change.bit_rate) < 0) {
        throw UsageError{QStringLiteral("--bitrate takes one of the rates its help lists, not %1")
                             .arg(*change.bit_rate)};
    }
    change.bit_rate_type = in.choice(QStringLiteral("rate-mode"), kRateModes);
    change.frame_rate = in.integer(QStringLiteral("fps"), 0, video::kMaxFrameRate);
    if (in.isSet(QStringLiteral("size"))) {
        parseSize(in.value(QStringLiteral("size")), stream, change);
    }
    change.image_size_adapt = in.choice(QStringLiteral("follow-input"), kFollow);
    change.iframe_interval = in.integer(QStringLiteral("gop"), 0, video::kMaxIFrameInterval);
    change.profile = in.choice(QStringLiteral("profile"), kProfiles);
    return change;
}

// A stream's values as the settings spell them, numbers as numbers.
struct Field {
    const char* key;
    QString text;
    bool number;
};

std::vector<Field> streamFields(int k, const video::Stream& s, const video::CustomSize& custom) {
    QString size = QString::number(s.image_size);
    if (s.image_size == video::kCustomImageSize) {
        size = QStringLiteral("custom:%1x%2").arg(custom.width).arg(custom.height);
    } else if (s.image_size >= 0 && s.image_size < video::kCustomImageSize) {
        size = sizeName(s.image_size);
    }
    return {{"stream", QString::number(k + 1), true},
            {"codec", nameOf(kCodecs, s.encode_mode), false},
            {"quality", nameOf(kQualities, s.pic_quality), false},
            {"bitrate", QString::number(s.bit_rate), true},
            {"rate-mode", nameOf(kRateModes, s.bit_rate_type), false},
            {"fps", QString::number(s.frame_rate), true},
            {"max-fps", QString::number(s.max_frame_rate), true},
            {"size", size, false},
            {"follow-input", nameOf(kFollow, s.image_size_adapt), false},
            {"gop", QString::number(s.iframe_interval), true},
            {"profile", nameOf(kProfiles, s.profile), false}};
}

// Prints stream k of a read, as a line and as an element of the entry's "streams".
void showStream(Report& report, neb::CJsonObject& streams, int k, const video::VideoRead& read) {
    QStringList pairs;
    neb::CJsonObject item;
    for (const Field& f : streamFields(k, read.streams.streams[std::size_t(k)], read.custom)) {
        pairs << QStringLiteral("%1=%2").arg(QLatin1String(f.key), f.text);
        if (f.number) {
            item.PutInt32(f.key, f.text.toInt());
        } else {
            item.PutString(f.key, utf8(f.text));
        }
    }
    streams.AppendDocument(item);
    report.line(pairs.join(QLatin1Char(' ')));
}

// Why a read of the streams cannot serve stream `stream` (-1: any); empty when it can.
QString videoReadProblem(const video::VideoRead& read, int stream) {
    if (!read.streams.answered) {
        return QStringLiteral("no answer");
    }
    if (!read.streams.readable) {
        return QStringLiteral("the reply is not JSON");
    }
    if (read.streams.listed == 0) {
        return QStringLiteral("the reply lists no streams");
    }
    if (read.streams.listed <= stream) {
        return QStringLiteral("the reply lists %1 streams").arg(read.streams.listed);
    }
    return {};
}

QString refusalText(video::WriteStatus status) {
    switch (status) {
        case video::WriteStatus::CustomSizeMissing:
            return QStringLiteral(
                "stream 1 is on the custom size, whose width and height the "
                "device did not give: set them with --size WxH");
        case video::WriteStatus::FrameRateZero:
            return QStringLiteral("the frame rate must not be 0");
        case video::WriteStatus::IFrameIntervalZero:
            return QStringLiteral("the I-frame interval (--gop) must not be 0");
        default:
            return QStringLiteral("the stream does not exist");
    }
}

// Writes the changed stream and reads it back; false (reported) when any step fails.
bool writeVideo(Report& report, const std::string& ip, int stream, const StreamChange& change,
                video::VideoRead& read) {
    video::StreamWrite write;
    write.stream_id = stream;
    write.values = read.streams.streams[std::size_t(stream)];
    change.applyTo(write.values);
    // The custom size travels with stream 1 only: given, or as the device reported it.
    write.custom_size = stream == 0 && write.values.image_size == video::kCustomImageSize;
    video::CustomSize custom = read.custom;
    if (change.custom) {
        custom.width = change.custom->first;
        custom.height = change.custom->second;
    }
    if (write.custom_size && custom.width >= 0 && custom.height >= 0) {
        write.custom_width = custom.width;
        write.custom_height = custom.height;
    }
    // A value neither read nor given would go out as -1.
    const std::vector<const char*> unread = video::unreadMembers(write.values);
    if (!unread.empty()) {
        QStringList names;
        for (const char* name : unread) {
            names << QLatin1String(name);
        }
        report.fail(QStringLiteral("read"),
                    QStringLiteral("the reply gives no %1 for stream %2; nothing written")
                        .arg(names.join(QStringLiteral(", ")))
                        .arg(stream + 1));
        return false;
    }
    if (const std::optional<video::WriteStatus> refused = video::writeRefusal(write)) {
        report.fail(QStringLiteral("check"),
                    refusalText(*refused) + QStringLiteral("; nothing written"));
        return false;
    }
    const video::WriteResult result = video::writeStream(ip.c_str(), write);
    if (result.status != video::WriteStatus::Written) {
        report.fail(QStringLiteral("write"), replyProblem(result.reply, video::kAcceptLength));
        return false;
    }

    read = video::readVideo(ip.c_str());
    const QString problem = videoReadProblem(read, stream);
    if (!problem.isEmpty()) {
        report.fail(QStringLiteral("read-back"), problem);
        return false;
    }
    write.values.max_frame_rate = read.streams.streams[std::size_t(stream)].max_frame_rate;
    const std::vector<Field> wanted = streamFields(stream, write.values, custom);
    const std::vector<Field> held =
        streamFields(stream, read.streams.streams[std::size_t(stream)], read.custom);
    QStringList differences;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (wanted[i].text != held[i].text) {
            differences << QStringLiteral("%1 is %2, %3 was written")
                               .arg(QLatin1String(wanted[i].key), held[i].text, wanted[i].text);
        }
    }
    if (!differences.isEmpty()) {
        report.fail(QStringLiteral("read-back"), differences.join(QStringLiteral("; ")));
        return false;
    }
    return true;
}

int runVideo(Invocation& in) {
    const QStringList addresses = in.addresses();
    const std::optional<int> given_stream = in.integer(QStringLiteral("stream"), 1, 4);
    const int stream = given_stream.value_or(1) - 1;
    const StreamChange change = parseStreamChange(in, stream);
    applyRequestTimeout(in);
    Report report(in.json());
    for (const QString& address : addresses) {
        const std::string ip = utf8(address);
        neb::CJsonObject& entry = report.begin(address);
        video::VideoRead read = video::readVideo(ip.c_str());
        const QString problem = videoReadProblem(read, given_stream || change.any() ? stream : -1);
        if (!problem.isEmpty()) {
            report.fail(QStringLiteral("read"), problem);
        } else if (!change.any() || writeVideo(report, ip, stream, change, read)) {
            neb::CJsonObject streams(std::string("[]"));
            const bool one = given_stream || change.any();
            const int listed = std::min(read.streams.listed, video::kStreamCount);
            for (int k = one ? stream : 0; k < (one ? stream + 1 : listed); ++k) {
                showStream(report, streams, k, read);
            }
            entry.PutDocument("streams", streams);
        }
        report.end();
    }
    return report.finish();
}

}  // namespace

Command videoCommand() {
    static const QByteArray help = withRequestTimeout(kVideoHelp);
    QList<QCommandLineOption> options{requestTimeoutOption()};
    for (const char* name : {"stream", "codec", "quality", "bitrate", "rate-mode", "fps", "size",
                             "follow-input", "gop", "profile"}) {
        options << valued(name);
    }
    return {"video", "show or set a transmitter's video streams", help.constData(), options,
            runVideo};
}

}  // namespace corvane::cli
