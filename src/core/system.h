// The few process-level services that differ between Windows and Linux.
// Each platform directory implements them as thin adapters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"

namespace sw::platform {

// The process arguments as UTF-8 text, without the program path.
std::vector<std::string> command_line_args(int argc, char** argv);

// An environment variable as UTF-8; absent when unset or not valid Unicode.
std::optional<std::string> env_var(std::string_view name);

// One line describing the operating system, for the first log line and the banner.
std::string system_description();

// Whether the process runs with full rights (an elevated token on Windows,
// effective user 0 on Linux).
bool is_elevated();

// Shows headless output in the console of the parent process, if any.
void attach_parent_console();

unsigned long process_id();

// The full path of the running program's file.
std::optional<std::filesystem::path> current_executable();

// The bytes this process may still write on the volume that holds `folder`.
Result<uint64_t, OsError> free_space(const std::filesystem::path& folder);

}  // namespace sw::platform
