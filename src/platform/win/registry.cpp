#include "platform/win/registry.h"

#include "platform/win/wide.h"

namespace sw::win {

namespace {

// First call learns the size in bytes, the second fills a buffer of half as
// many UTF-16 units plus one.
Result<std::wstring, OsError> read_units(HKEY root, const wchar_t* key, const wchar_t* value,
                                         DWORD type_flag) {
    DWORD bytes = 0;
    LSTATUS st = RegGetValueW(root, key, value, type_flag, nullptr, nullptr, &bytes);
    if (st != ERROR_SUCCESS) return unexpected(os_error(static_cast<int>(st)));
    std::wstring buf(bytes / 2 + 1, L'\0');
    DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    st = RegGetValueW(root, key, value, type_flag, nullptr, buf.data(), &size);
    if (st != ERROR_SUCCESS) return unexpected(os_error(static_cast<int>(st)));
    buf.resize(std::min<size_t>(buf.size(), size / sizeof(wchar_t)));
    return buf;
}

}  // namespace

Result<std::string, OsError> read_registry_string(HKEY root, const wchar_t* key,
                                                  const wchar_t* value) {
    auto units = read_units(root, key, value, RRF_RT_REG_SZ);
    if (!units) return unexpected(units.error());
    return narrow(*units);
}

Result<std::vector<std::string>, OsError> read_registry_multi_string(HKEY root, const wchar_t* key,
                                                                     const wchar_t* value) {
    auto units = read_units(root, key, value, RRF_RT_REG_MULTI_SZ);
    if (!units) return unexpected(units.error());
    std::vector<std::string> pieces;
    size_t start = 0;
    const std::wstring& s = *units;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == L'\0') {
            if (i > start) pieces.push_back(narrow(std::wstring_view(s).substr(start, i - start)));
            start = i + 1;
        }
    }
    return pieces;
}

Result<uint32_t, OsError> read_registry_dword(HKEY root, const wchar_t* key, const wchar_t* value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    LSTATUS st = RegGetValueW(root, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size);
    if (st != ERROR_SUCCESS) return unexpected(os_error(static_cast<int>(st)));
    return static_cast<uint32_t>(data);
}

}  // namespace sw::win
