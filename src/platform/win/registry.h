// Values under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, read with RegGetValueW
// restricted to the expected type.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/os_error.h"
#include "core/result.h"

namespace sw::win {

Result<std::string, OsError> read_registry_string(HKEY root, const wchar_t* key,
                                                  const wchar_t* value);
// A multi-string split at zero units, empty pieces skipped.
Result<std::vector<std::string>, OsError> read_registry_multi_string(HKEY root, const wchar_t* key,
                                                                     const wchar_t* value);
Result<uint32_t, OsError> read_registry_dword(HKEY root, const wchar_t* key, const wchar_t* value);

}  // namespace sw::win
