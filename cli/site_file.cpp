#include "cli/site_file.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "cli/output.h"
#include "json/json_document.h"
#include "protocol/config_commands.h"

namespace corvane::cli {

namespace {

// The reasons a record is refused; thrown while reading, caught in readSite.
struct Damaged {
    std::string what;
};

std::string text(neb::CJsonObject& object, const char* key, const std::string& where) {
    std::string value;
    if (!object.ReadString(key, value)) {
        throw Damaged{where + ": \"" + key + "\" is missing or not a text"};
    }
    return value;
}

std::int32_t number(neb::CJsonObject& object, const char* key, const std::string& where) {
    std::int32_t value = 0;
    if (!object.ReadInt32(key, value)) {
        throw Damaged{where + ": \"" + key + "\" is missing or not a whole number"};
    }
    return value;
}

std::optional<std::int32_t> optionalNumber(neb::CJsonObject& object, const char* key,
                                           const std::string& where) {
    if (object.Member(key).IsVoid()) {
        return std::nullopt;
    }
    return number(object, key, where);
}

void putSettings(neb::CJsonObject& settings, const DeviceSettings& d) {
    if (!d.streams.empty()) {
        settings.PutEmptyArray("streams");
        for (const video::Stream& s : d.streams) {
            neb::CJsonObject stream;
            for (const auto& [name, member] : video::kWrittenMembers) {
                stream.PutInt32(name, s.*member);
            }
            settings.Member("streams").AppendDocument(stream);
        }
    }
    if (d.custom_size) {
        neb::CJsonObject size;
        size.PutInt32("width", (*d.custom_size)[0]);
        size.PutInt32("height", (*d.custom_size)[1]);
        settings.PutDocument("customSize", size);
    }
    if (d.audio_in) {
        settings.PutInt32("audioIn", *d.audio_in);
    }
    if (d.audio_out) {
        settings.PutInt32("audioOut", *d.audio_out);
    }
}

DeviceSettings readDevice(neb::CJsonObject& item, const std::string& where) {
    DeviceSettings d;
    d.mac = text(item, "mac", where);
    if (!config::isMacAddress(d.mac)) {
        throw Damaged{where + ": \"mac\" is not a MAC address"};
    }
    d.mac = macKey(d.mac);
    d.kind = text(item, "kind", where);
    d.type = std::uint32_t(number(item, "type", where));
    d.firmware = text(item, "firmware", where);
    d.address = text(item, "address", where);
    d.mask = text(item, "mask", where);
    d.gateway = text(item, "gateway", where);
    if (!item.Member("error").IsVoid()) {
        neb::CJsonObject& error = item.Member("error");
        d.failed_step = text(error, "step", where + " error");
        d.failure = text(error, "message", where + " error");
        return d;
    }
    neb::CJsonObject& settings = item.Member("settings");
    if (settings.IsVoid() || settings.IsArray()) {
        throw Damaged{where + ": \"settings\" is missing or not an object"};
    }
    if (!settings.Member("streams").IsVoid()) {
        neb::CJsonObject& streams = settings.Member("streams");
        if (!streams.IsArray() || streams.ArraySize() > video::kStreamCount) {
            throw Damaged{where + ": \"streams\" is not a list of at most four streams"};
        }
        for (int i = 0; i < streams.ArraySize(); ++i) {
            neb::CJsonObject& stream = streams.Element(std::uint32_t(i));
            video::Stream s;
            for (const auto& [name, member] : video::kWrittenMembers) {
                s.*member = number(stream, name, where + " stream " + std::to_string(i + 1));
            }
            d.streams.push_back(s);
        }
    }
    if (!settings.Member("customSize").IsVoid()) {
        neb::CJsonObject& size = settings.Member("customSize");
        d.custom_size = std::array<std::int32_t, 2>{number(size, "width", where + " customSize"),
                                                    number(size, "height", where + " customSize")};
    }
    d.audio_in = optionalNumber(settings, "audioIn", where);
    d.audio_out = optionalNumber(settings, "audioOut", where);
    return d;
}

void differ(std::vector<SiteDifference>& out, const DeviceSettings& now, const std::string& setting,
            const std::string& before, const std::string& after) {
    if (before != after) {
        out.push_back(
            {SiteDifference::Kind::Changed, now.mac, now.address, setting, before, after});
    }
}

}  // namespace

std::string differenceLine(const SiteDifference& d) {
    auto shown = [](const std::string& text) {
        return printable(QString::fromStdString(text)).toStdString();
    };
    const std::string device = shown(d.mac) + " " + shown(d.address);
    switch (d.kind) {
        case SiteDifference::Kind::Added:
            return "+ " + device;
        case SiteDifference::Kind::Missing:
            return "- " + device;
        case SiteDifference::Kind::Changed:
            break;
    }
    return "~ " + device + " " + d.setting + ": " + shown(d.before) + " -> " + shown(d.after);
}

std::string macKey(const std::string& text) {
    std::string key = text;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return key;
}

std::string siteText(const SiteRecord& record) {
    neb::CJsonObject document;
    document.PutString("format", kSiteFormat);
    document.PutInt32("version", kSiteVersion);
    document.PutString("written", record.written);
    document.PutString("tool", record.tool);
    document.PutEmptyArray("devices");
    for (const DeviceSettings& d : record.devices) {
        neb::CJsonObject item;
        item.PutString("mac", d.mac);
        item.PutString("kind", d.kind);
        item.PutUint32("type", d.type);
        item.PutString("firmware", d.firmware);
        item.PutString("address", d.address);
        item.PutString("mask", d.mask);
        item.PutString("gateway", d.gateway);
        if (!d.failed_step.empty()) {
            neb::CJsonObject error;
            error.PutString("step", d.failed_step);
            error.PutString("message", d.failure);
            item.PutDocument("error", error);
        } else {
            // An object even when the device has no settings to keep.
            neb::CJsonObject settings(std::string("{}"));
            putSettings(settings, d);
            item.PutDocument("settings", settings);
        }
        document.Member("devices").AppendDocument(item);
    }
    return document.PrettyText() + "\n";
}

SiteRead readSite(const std::string& text_in) {
    neb::CJsonObject document;
    if (!document.FromText(text_in) || document.IsArray()) {
        return {std::nullopt, "not a JSON object: the file is damaged or not a settings file"};
    }
    try {
        std::string format;
        if (!document.ReadString("format", format) || format != kSiteFormat) {
            throw Damaged{std::string("not a settings file (\"format\" is not \"") + kSiteFormat +
                          "\")"};
        }
        std::int32_t version = 0;
        if (!document.ReadInt32("version", version)) {
            throw Damaged{"\"version\" is missing or not a whole number"};
        }
        if (version != kSiteVersion) {
            throw Damaged{"format version " + std::to_string(version) + "; this tool reads only " +
                          std::to_string(kSiteVersion)};
        }
        SiteRecord record;
        record.written = text(document, "written", "the file");
        record.tool = text(document, "tool", "the file");
        neb::CJsonObject& devices = document.Member("devices");
        if (!devices.IsArray()) {
            throw Damaged{"\"devices\" is missing or not a list"};
        }
        std::set<std::string> macs;
        for (int i = 0; i < devices.ArraySize(); ++i) {
            const std::string where = "device " + std::to_string(i + 1);
            DeviceSettings d = readDevice(devices.Element(std::uint32_t(i)), where);
            if (!macs.insert(d.mac).second) {
                throw Damaged{where + ": MAC " + d.mac + " is listed twice"};
            }
            record.devices.push_back(std::move(d));
        }
        return {std::move(record), {}};
    } catch (const Damaged& e) {
        return {std::nullopt, e.what};
    }
}

std::vector<SiteDifference> settingDifferences(const DeviceSettings& before,
                                               const DeviceSettings& now) {
    std::vector<SiteDifference> out;
    const std::size_t streams = std::min(before.streams.size(), now.streams.size());
    differ(out, now, "streams listed", std::to_string(before.streams.size()),
           std::to_string(now.streams.size()));
    for (std::size_t i = 0; i < streams; ++i) {
        for (const auto& [name, member] : video::kWrittenMembers) {
            differ(out, now, "stream " + std::to_string(i + 1) + " " + name,
                   std::to_string(before.streams[i].*member),
                   std::to_string(now.streams[i].*member));
        }
    }
    // The custom size counts only while stream 1 uses it on both sides; otherwise stream 1's
    // size differs already.
    auto custom = [](const DeviceSettings& d) {
        return !d.streams.empty() && d.streams[0].image_size == video::kCustomImageSize;
    };
    if (custom(before) && custom(now)) {
        auto size = [](const std::optional<std::array<std::int32_t, 2>>& s) {
            return s ? std::to_string((*s)[0]) + "x" + std::to_string((*s)[1])
                     : std::string("none");
        };
        differ(out, now, "custom size", size(before.custom_size), size(now.custom_size));
    }
    if (before.audio_in && now.audio_in) {
        differ(out, now, "audio-in", std::to_string(*before.audio_in),
               std::to_string(*now.audio_in));
    }
    if (before.audio_out && now.audio_out) {
        differ(out, now, "audio-out", std::to_string(*before.audio_out),
               std::to_string(*now.audio_out));
    }
    return out;
}

std::vector<SiteDifference> networkDifferences(const DeviceSettings& before,
                                               const DeviceSettings& now) {
    std::vector<SiteDifference> out;
    differ(out, now, "address", before.address, now.address);
    differ(out, now, "mask", before.mask, now.mask);
    differ(out, now, "gateway", before.gateway, now.gateway);
    return out;
}

std::vector<SiteDifference> compareSites(const SiteRecord& before, const SiteRecord& now) {
    std::vector<SiteDifference> out;
    auto find = [](const SiteRecord& record, const std::string& mac) -> const DeviceSettings* {
        for (const DeviceSettings& d : record.devices) {
            if (d.mac == mac) {
                return &d;
            }
        }
        return nullptr;
    };
    for (const DeviceSettings& old : before.devices) {
        const DeviceSettings* current = find(now, old.mac);
        if (current == nullptr) {
            out.push_back({SiteDifference::Kind::Missing, old.mac, old.address, {}, {}, {}});
            continue;
        }
        for (SiteDifference& d : networkDifferences(old, *current)) {
            out.push_back(std::move(d));
        }
        differ(out, *current, "firmware", old.firmware, current->firmware);
        if (old.failed_step.empty() && current->failed_step.empty()) {
            for (SiteDifference& d : settingDifferences(old, *current)) {
                out.push_back(std::move(d));
            }
        }
    }
    for (const DeviceSettings& d : now.devices) {
        if (find(before, d.mac) == nullptr) {
            out.push_back({SiteDifference::Kind::Added, d.mac, d.address, {}, {}, {}});
        }
    }
    return out;
}

}  // namespace corvane::cli
