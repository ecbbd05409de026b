#include "i18n/format.h"

#include <array>
#include <cmath>

#include "core/text.h"

namespace sw {

namespace {

std::string fill(std::string_view tmpl, const std::string_view* args, size_t count) {
    std::string out;
    out.reserve(tmpl.size() + 16);
    size_t next = 0;
    size_t pos = 0;
    while (pos < tmpl.size()) {
        size_t at = tmpl.find("{}", pos);
        if (at == std::string_view::npos) break;
        out.append(tmpl.substr(pos, at - pos));
        if (next < count) out.append(args[next++]);
        pos = at + 2;
    }
    out.append(tmpl.substr(pos));
    return out;
}

// Whole numbers are rounded half away from zero, as people round; printf
// would round a binary half to even.
std::string whole(double v) {
    return fixed(std::round(v), 0);
}

}  // namespace

std::string format_text(std::string_view tmpl, std::initializer_list<std::string_view> args) {
    return fill(tmpl, args.begin(), args.size());
}

std::string format_text(std::string_view tmpl, const std::vector<std::string>& args) {
    std::vector<std::string_view> views(args.begin(), args.end());
    return fill(tmpl, views.data(), views.size());
}

size_t placeholder_count(std::string_view tmpl) {
    size_t count = 0;
    for (size_t at = tmpl.find("{}"); at != std::string_view::npos; at = tmpl.find("{}", at + 2))
        ++count;
    return count;
}

std::string format_size(uint64_t bytes) {
    if (bytes < 1000) return fmt("{} B", bytes);
    std::string_view unit;
    double divisor;
    if (bytes < 1000000ull) {
        unit = "KB";
        divisor = 1e3;
    } else if (bytes < 1000000000ull) {
        unit = "MB";
        divisor = 1e6;
    } else if (bytes < 1000000000000ull) {
        unit = "GB";
        divisor = 1e9;
    } else {
        unit = "TB";
        divisor = 1e12;
    }
    double v = static_cast<double>(bytes) / divisor;
    bool no_decimals = v >= 100 || (v >= 10 && std::fabs(v - std::round(v)) <= 0.05);
    std::string number = no_decimals ? whole(v) : fixed(v, 1);
    return number + " " + std::string(unit);
}

std::string format_capacity_label(uint64_t bytes) {
    static constexpr std::array<unsigned, 21> kNominalGb = {
        1,   2,   4,   8,   16,  32,   64,   120,  128,  240,  250,
        256, 480, 500, 512, 960, 1000, 2000, 4000, 8000, 16000};
    double v = static_cast<double>(bytes) / 1e9;
    if (v >= 1) {
        for (unsigned s : kNominalGb) {
            if (0.88 * s <= v && v <= 1.02 * s) {
                return s < 1000 ? fmt("{} GB", s) : fmt("{} TB", s / 1000);
            }
        }
    }
    return format_size(bytes);
}

std::string format_speed(const StringTable& table, double bytes_per_second) {
    double m = bytes_per_second / 1e6;
    // An estimator that has not settled may hand over a rate that is not a
    // number; show nothing moving rather than "nan".
    if (!std::isfinite(m) || m < 0) m = 0;
    std::string number = (m >= 10 ? whole(m) : fixed(m, 1)) + " MB";
    return format_text(text(table, TextId::PerSecond), {number});
}

std::string format_duration(const StringTable& table, uint64_t seconds) {
    if (seconds < 60) return format_text(text(table, TextId::Seconds), {fmt("{}", seconds)});
    if (seconds < 90) return std::string(text(table, TextId::OneMinute));
    uint64_t minutes = seconds / 60 + (seconds % 60 >= 30 ? 1 : 0);
    return format_text(text(table, TextId::Minutes), {fmt("{}", minutes)});
}

std::string_view usb_speed_label(std::optional<UsbSpeed> speed) {
    if (!speed) return "USB";
    switch (*speed) {
        case UsbSpeed::Full:
            return "USB 1.1";
        case UsbSpeed::High:
            return "USB 2.0";
        case UsbSpeed::Super:
            return "USB 3.2 Gen 1";
        case UsbSpeed::SuperPlus:
            return "USB 3.2 Gen 2";
    }
    return "USB";
}

std::string drive_row_detail(const StringTable& table, const DeviceInfo& drive) {
    std::string out = format_capacity_label(drive.size);
    out += " · ";
    out += usb_speed_label(drive.usb_speed);
    out += " · ";
    out += format_text(text(table, TextId::DiskNumber), {fmt("{}", drive.number)});
    if (!drive.letters.empty()) {
        out += " · ";
        for (size_t i = 0; i < drive.letters.size(); ++i) {
            if (i > 0) out += ' ';
            out += drive.letters[i];
            out += ':';
        }
    }
    return out;
}

}  // namespace sw
