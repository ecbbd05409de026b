// Display text for sizes, capacities, speeds, durations and drive rows, and
// the "{}" substitution the string tables use. Sizes shown to people use
// decimal units (1 MB = 1,000,000 bytes).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disk/device_info.h"
#include "i18n/strings.h"

namespace sw {

// Fills each "{}" of `tmpl` with the next argument, left to right. A "{" or
// "}" alone is copied; there is no escaping and nothing inside the braces.
// A placeholder without an argument becomes nothing; extra arguments are
// ignored. Arguments are never scanned for placeholders themselves.
std::string format_text(std::string_view tmpl, std::initializer_list<std::string_view> args);
std::string format_text(std::string_view tmpl, const std::vector<std::string>& args);

// The number of "{}" in a text.
size_t placeholder_count(std::string_view tmpl);

// "999 B", "1.0 KB", "15 GB", "15.2 GB", "123 GB", "932 GB".
std::string format_size(uint64_t bytes);

// The nominal size printed on a drive: "32 GB" for 31.46 × 10^9 bytes,
// "2 TB"; a size no nominal size fits is shown by format_size.
std::string format_capacity_label(uint64_t bytes);

// "12 MB/s", "4.5 MB/s" ("{}/秒" in Chinese). A rate that is negative or not
// a number is shown as 0.
std::string format_speed(const StringTable& table, double bytes_per_second);

// "59 seconds", "1 minute" (60 to 89 s), "2 minutes" (90 to 149 s), …
std::string format_duration(const StringTable& table, uint64_t seconds);

// "USB 1.1", "USB 2.0", "USB 3.2 Gen 1", "USB 3.2 Gen 2"; "USB" when unknown.
std::string_view usb_speed_label(std::optional<UsbSpeed> speed);

// "32 GB · USB 3.2 Gen 1 · Disk 2 · E:" (letters only when the drive has some).
std::string drive_row_detail(const StringTable& table, const DeviceInfo& drive);

}  // namespace sw
