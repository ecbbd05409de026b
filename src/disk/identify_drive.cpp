#include "disk/drives.h"

#include <optional>

#include "core/text.h"
#include "runtime/thread.h"

namespace sw {

namespace {

struct Answer {
    std::optional<OsError> error;
    std::optional<DeviceInfo> found;
};

}  // namespace

Result<DeviceInfo, std::string> identify_drive(const Disks& disks, const DeviceIdentity& expected) {
    uint32_t number = expected.number;
    // The thread holds a share of the system: an abandoned one may outlive the caller.
    auto answer = run_with_time_limit(
        "drive identification", 30,
        [disks, number]() -> Answer {
            auto listed = disks->enumerate_disks();
            if (!listed) return Answer{listed.error(), std::nullopt};
            for (auto& d : *listed)
                if (d.number == number) return Answer{std::nullopt, std::move(d)};
            return Answer{};
        },
        disks->clock());
    if (!answer) return unexpected(answer.error());
    if (answer->error) return unexpected(fmt("disk enumeration failed: {}", answer->error->text));
    if (!answer->found) return unexpected(fmt("disk {} is no longer present", number));
    DeviceIdentity found = identity_of(*answer->found);
    if (found != expected)
        return unexpected(
            fmt("expected {}, found {}", debug_string(expected), debug_string(found)));
    return std::move(*answer->found);
}

}  // namespace sw
