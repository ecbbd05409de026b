#include "cli/drive_lines.h"

#include "core/text.h"

namespace sw {

std::string letters_debug(const std::vector<char>& letters) {
    std::string out = "[";
    for (size_t i = 0; i < letters.size(); ++i) {
        if (i > 0) out += ", ";
        out += fmt("'{}'", letters[i]);
    }
    return out + "]";
}

std::string drive_line(const DeviceInfo& d, const std::vector<Refusal>& refusals) {
    std::string verdict =
        refusals.empty() ? std::string("WRITABLE") : fmt("BLOCKED {}", debug_string(refusals));
    return fmt(
        "disk {} bus={} removable={} size={} sector={}/{} usb={} vendor='{}' product='{}' "
        "serial='{}' letters={} id='{}' -> {}",
        d.number, bus_name(d.bus), d.removable, d.size, d.logical_sector, d.physical_sector,
        usb_speed_debug(d.usb_speed), d.vendor, d.product, d.serial, letters_debug(d.letters),
        d.instance_id, verdict);
}

}  // namespace sw
