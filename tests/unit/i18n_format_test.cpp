// "{}" substitution and the display forms of sizes, capacities, speeds,
// durations and drive rows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "i18n/format.h"
#include "i18n/strings.h"

namespace sw {
namespace {

const StringTable& en() {
    return string_table(Language::English);
}

TEST(I18nFormatText, FillsInOrderAndToleratesWrongArgumentCounts) {
    EXPECT_EQ(format_text("{} / {}", {"1.5 GB", "4.0 GB"}), "1.5 GB / 4.0 GB");
    // A missing argument inserts nothing; extra ones are ignored.
    EXPECT_EQ(format_text("{} / {}", {"1.5 GB"}), "1.5 GB / ");
    EXPECT_EQ(format_text("Ortivex {}", {}), "Ortivex ");
    EXPECT_EQ(format_text("Disk {}", {"2", "3", "4"}), "Disk 2");
    EXPECT_EQ(format_text("no placeholder", {"x"}), "no placeholder");
    EXPECT_EQ(format_text("", {"x"}), "");
    EXPECT_EQ(format_text("{}", {""}), "");
    EXPECT_EQ(format_text("{}{}{}", {"a", "b", "c"}), "abc");
}

TEST(I18nFormatText, BracesAloneAreCopiedAndArgumentsAreNotRescanned) {
    EXPECT_EQ(format_text("{ } {", {"x"}), "{ } {");
    EXPECT_EQ(format_text("}{}{", {"x"}), "}x{");
    EXPECT_EQ(format_text("{{}}", {"x"}), "{x}");
    EXPECT_EQ(format_text("{0} {:02}", {"x"}), "{0} {:02}");
    // A path or version with braces in it stays as it is and does not take
    // the next argument.
    EXPECT_EQ(format_text("Writing {} ({})", {"/a/{}/b", "2"}), "Writing /a/{}/b (2)");
    std::vector<std::string> args = {"12", "34"};
    EXPECT_EQ(format_text("{}:{}", args), "12:34");
    EXPECT_EQ(format_text("{}:{}", std::vector<std::string>{}), ":");
}

TEST(I18nFormatText, CountsPlaceholders) {
    EXPECT_EQ(placeholder_count(""), 0u);
    EXPECT_EQ(placeholder_count("{ }"), 0u);
    EXPECT_EQ(placeholder_count("{}{}"), 2u);
    EXPECT_EQ(placeholder_count("{{}}"), 1u);
    EXPECT_EQ(placeholder_count("{}}"), 1u);
}

TEST(I18nFormatSize, UnitBoundariesAndRounding) {
    struct Case {
        uint64_t bytes;
        std::string_view expected;
    };
    const Case cases[] = {
        {0, "0 B"},
        {999, "999 B"},
        {1000, "1.0 KB"},
        {1500, "1.5 KB"},
        {9949, "9.9 KB"},
        {10000, "10 KB"},
        {10040, "10 KB"},    // within 0.05 of 10
        {10060, "10.1 KB"},  // not within
        {99940, "99.9 KB"},
        {99960, "100 KB"},    // within 0.05 of 100
        {999999, "1000 KB"},  // still below 10^6: the unit does not change
        {1000000, "1.0 MB"},
        {999999999, "1000 MB"},
        {1000000000, "1.0 GB"},
        {15020000000, "15 GB"},
        {15200000000, "15.2 GB"},
        {123456000000, "123 GB"},
        {100500000000, "101 GB"},  // halves round up
        {932000000000, "932 GB"},
        {1000000000000, "1.0 TB"},
        {12300000000000, "12.3 TB"},
        {std::numeric_limits<uint64_t>::max(), "18446744 TB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format_size(c.bytes), c.expected) << c.bytes;
}

TEST(I18nFormatCapacity, NominalSizesOfDrives) {
    struct Case {
        uint64_t bytes;
        std::string_view expected;
    };
    const Case cases[] = {
        {31460000000, "32 GB"},
        {7500000000, "8 GB"},
        {2000400000000, "2 TB"},
        {500000000, "500 MB"},  // below 1 GB: the plain size
        {0, "0 B"},
        {1000000000, "1 GB"},
        {880000000, "880 MB"},   // 0.88 GB, but below 1 GB
        {1020000000, "1 GB"},    // 1.02 × 1
        {1030000000, "1.0 GB"},  // above 1.02 × 1 and below 0.88 × 2
        {15500000000, "16 GB"},
        {20500000000, "20.5 GB"},  // between 16.32 and 28.16: no nominal size
        {118000000000, "120 GB"},  // 120 is tried before 128
        {125000000000, "128 GB"},
        {241000000000, "240 GB"},  // 240 before 250
        {500000000000, "500 GB"},
        {1000000000000, "1 TB"},
        {3600000000000, "4 TB"},
        {16000000000000, "16 TB"},
        {17500000000000, "17.5 TB"},  // beyond 1.02 × 16 TB
    };
    for (const Case& c : cases)
        EXPECT_EQ(format_capacity_label(c.bytes), c.expected) << c.bytes;
}

TEST(I18nFormatSpeed, DecimalsBelowTenAndTheLanguageTemplate) {
    EXPECT_EQ(format_speed(en(), 30e6), "30 MB/s");
    EXPECT_EQ(format_speed(en(), 10e6), "10 MB/s");
    EXPECT_EQ(format_speed(en(), 123.6e6), "124 MB/s");
    EXPECT_EQ(format_speed(en(), 4.5e6), "4.5 MB/s");
    EXPECT_EQ(format_speed(en(), 40000), "0.0 MB/s");
    EXPECT_EQ(format_speed(en(), 0), "0.0 MB/s");
    EXPECT_EQ(format_speed(string_table(Language::Chinese), 30e6), "30 MB/秒");
    EXPECT_EQ(format_speed(string_table(Language::Spanish), 4.5e6), "4.5 MB/s");
}

TEST(I18nFormatSpeed, NonsenseRatesShowAsZero) {
    EXPECT_EQ(format_speed(en(), std::nan("")), "0.0 MB/s");
    EXPECT_EQ(format_speed(en(), -5e6), "0.0 MB/s");
    EXPECT_EQ(format_speed(en(), std::numeric_limits<double>::infinity()), "0.0 MB/s");
}

TEST(I18nFormatDuration, SecondsMinuteAndMinutesAtTheBoundaries) {
    EXPECT_EQ(format_duration(en(), 0), "0 seconds");
    EXPECT_EQ(format_duration(en(), 20), "20 seconds");
    EXPECT_EQ(format_duration(en(), 59), "59 seconds");
    EXPECT_EQ(format_duration(en(), 60), "1 minute");
    EXPECT_EQ(format_duration(en(), 89), "1 minute");
    EXPECT_EQ(format_duration(en(), 90), "2 minutes");
    EXPECT_EQ(format_duration(en(), 149), "2 minutes");
    EXPECT_EQ(format_duration(en(), 150), "3 minutes");
    EXPECT_EQ(format_duration(en(), 7200), "120 minutes");
    // Rounding half a minute up must not wrap around at the top of the range.
    uint64_t max = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(format_duration(en(), max), std::to_string(max / 60) + " minutes");
    EXPECT_EQ(format_duration(string_table(Language::Spanish), 59), "59 segundos");
    EXPECT_EQ(format_duration(string_table(Language::Spanish), 60), "1 minuto");
    EXPECT_EQ(format_duration(string_table(Language::Chinese), 59), "59 秒");
    EXPECT_EQ(format_duration(string_table(Language::Chinese), 150), "3 分钟");
}

DeviceInfo drive(uint64_t size, std::optional<UsbSpeed> speed, uint32_t number,
                 std::vector<char> letters) {
    DeviceInfo d;
    d.size = size;
    d.usb_speed = speed;
    d.number = number;
    d.letters = std::move(letters);
    return d;
}

TEST(I18nDriveRow, CapacitySpeedDiskAndLetters) {
    EXPECT_EQ(drive_row_detail(en(), drive(31460000000, UsbSpeed::Super, 2, {'E'})),
              "32 GB · USB 3.2 Gen 1 · Disk 2 · E:");
    EXPECT_EQ(drive_row_detail(en(), drive(7500000000, UsbSpeed::High, 3, {'E', 'F'})),
              "8 GB · USB 2.0 · Disk 3 · E: F:");
    EXPECT_EQ(drive_row_detail(en(), drive(128000000000, UsbSpeed::SuperPlus, 1, {})),
              "128 GB · USB 3.2 Gen 2 · Disk 1");
    EXPECT_EQ(drive_row_detail(en(), drive(0, std::nullopt, 4000000000u, {})),
              "0 B · USB · Disk 4000000000");
    EXPECT_EQ(drive_row_detail(string_table(Language::Spanish),
                               drive(64000000000, UsbSpeed::Full, 5, {'G'})),
              "64 GB · USB 1.1 · Disco 5 · G:");
    EXPECT_EQ(drive_row_detail(string_table(Language::Chinese),
                               drive(64000000000, UsbSpeed::High, 5, {})),
              "64 GB · USB 2.0 · 磁盘 5");
}

TEST(I18nDriveRow, UsbSpeedLabels) {
    EXPECT_EQ(usb_speed_label(UsbSpeed::Full), "USB 1.1");
    EXPECT_EQ(usb_speed_label(UsbSpeed::High), "USB 2.0");
    EXPECT_EQ(usb_speed_label(UsbSpeed::Super), "USB 3.2 Gen 1");
    EXPECT_EQ(usb_speed_label(UsbSpeed::SuperPlus), "USB 3.2 Gen 2");
    EXPECT_EQ(usb_speed_label(std::nullopt), "USB");
    EXPECT_EQ(usb_speed_label(static_cast<UsbSpeed>(9)), "USB");
}

}  // namespace
}  // namespace sw
