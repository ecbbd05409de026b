// A test with one simulated USB drive (development builds): a file that
// stands in for the stick, listed as disk 4000000000 with the faults its
// settings name, the run log the job writes, and what the stick holds.
#pragma once

#ifdef ORTIVEX_SIMULATED_DRIVES

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <string>

#include "core/paths.h"
#include "disk/drives.h"
#include "disk/simulated/simulated.h"
#include "logging/logger.h"
#include "support/machine.h"
#include "support/temp_dir.h"

namespace sw::test {

inline size_t count_lines(const std::string& log, const std::string& needle) {
    size_t n = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
        ++n;
    return n;
}

class SimulatedStickTest : public ::testing::Test {
  public:
    static constexpr uint32_t kStick = 4000000000u;

    void SetUp() override { Logger::init(dir / "logs"); }
    void TearDown() override { Logger::shut_down(); }

    // The stick as a file of `size` bytes that starts with `content` (zeros
    // after it), and its listed record.
    DeviceInfo attach(const std::string& settings, uint64_t size, const std::string& content = {}) {
        stick_file = dir / "stick.img";
        {
            std::ofstream out(stick_file, std::ios::binary | std::ios::trunc);
            out << content;
        }
        std::filesystem::resize_file(stick_file, size);
        set_drives(utf8_of(stick_file) + ",serial=E2E" + settings);
        auto drives = list_drives(dev_disks());
        EXPECT_TRUE(drives);
        if (drives)
            for (const auto& d : *drives)
                if (d.number == kStick) return d;
        ADD_FAILURE() << "the simulated drive is not listed";
        return {};
    }
    void set_drives(const std::string& value) {
        env.reset();
        env.emplace(std::string(kSimulatedDrivesVariable), value);
        drives_value = value;
    }
    // An identification hook that gives the stick `n` media changes in a row
    // at the job's identification `call` (3: the one before writing, after
    // the write probe), so that they meet the transfers, not the probe.
    std::function<void(int)> media_changes_at(SimulatedStates& states, int call, uint32_t n) {
        return [this, &states, call, n](int c) {
            if (c != call) return;
            auto parsed = parse_simulated_drives(drives_value);
            states.of(parsed.drives.at(0))->media_changed_left = n;
        };
    }
    std::string drives_value;  // the simulated drive list as last set
    // `n` bytes of the stick from `offset` (fewer at its end).
    std::string stick(uint64_t offset, size_t n) {
        std::ifstream in(stick_file, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        std::string s(n, '\0');
        in.read(s.data(), static_cast<std::streamsize>(n));
        s.resize(static_cast<size_t>(in.gcount()));
        return s;
    }
    bool stick_zero(uint64_t offset, size_t n) {
        std::string s = stick(offset, n);
        return s.size() == n && s.find_first_not_of('\0') == std::string::npos;
    }
    std::string log() {
        auto file = Logger::current_file();
        return file ? read_file(*file) : std::string();
    }

    TempDir dir;
    std::filesystem::path stick_file;
    std::optional<ScopedEnv> env;
};

// An error's text as a test names it: exactly, or its start when it ends
// with "…".
inline void expect_text(const std::string& actual, std::string expected) {
    if (expected.ends_with("…")) {
        expected.resize(expected.size() - std::string("…").size());
        EXPECT_TRUE(actual.starts_with(expected)) << actual;
    } else {
        EXPECT_EQ(actual, expected);
    }
}

}  // namespace sw::test

#endif  // ORTIVEX_SIMULATED_DRIVES
