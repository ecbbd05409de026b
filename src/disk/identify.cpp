#include "disk/identify.h"

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

Result<DeviceInfo, std::string> identify_drive_with(const DeviceIdentity& expected,
                                                    DiskEnumerator enumerate, Clock& clock) {
    uint32_t number = expected.number;
    auto answer = run_with_time_limit(
        "drive identification", 30,
        [enumerate = std::move(enumerate), number]() -> Answer {
            auto disks = enumerate();
            if (!disks) return Answer{disks.error(), std::nullopt};
            for (auto& d : *disks)
                if (d.number == number) return Answer{std::nullopt, std::move(d)};
            return Answer{};
        },
        clock);
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
