// Placeholders until the drive check and eject are built: every call fails
// with a plain statement, so nothing is ever reported as checked or ejected.
#include "disk/eject.h"
#include "disk/health.h"

namespace sw {

namespace {
constexpr const char* kNotBuilt = "not available in this build";
}

std::string debug_string(const Verdict& verdict) {
    return verdict.kind == Verdict::Skipped ? "Skipped" : "Failed(\"not available\")";
}
Verdict verdict_of_error(const OsError& error) {
    return Verdict{Verdict::Failed, {}, error.text};
}
std::string debug_string(const HealthReport&) {
    return kNotBuilt;
}
bool is_healthy(const HealthReport&) {
    return false;
}
HealthReport check_health(const DeviceInfo& drive) {
    return HealthReport{drive.product, {}, {}, {}, std::string(kNotBuilt)};
}
Result<WriteProbeTimes, WriteProbeFailure> probe_writable(RawDevice&) {
    return unexpected(WriteProbeFailure{"writable query", message_error(kNotBuilt)});
}
std::string filesystem_diagnosis(std::optional<char>) {
    return kNotBuilt;
}
std::string debug_string(const EjectOutcome& outcome) {
    return outcome ? "Ok(())" : "Err(\"" + outcome.error() + "\")";
}
EjectOutcome eject_drive(const DeviceInfo&) {
    return unexpected(std::string(kNotBuilt));
}
void eject_on_request(const DeviceInfo&, MessageSink&) {}
void refresh_drives(const std::optional<std::string>&, MessageSink&) {}

}  // namespace sw
