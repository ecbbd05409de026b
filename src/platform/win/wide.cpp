#include "platform/win/wide.h"

#include "core/text.h"

namespace sw::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

std::string narrow(std::wstring_view units) {
    return utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.size()));
}

std::string narrow(const wchar_t* units, size_t max_units) {
    return narrow(std::wstring_view(units, max_units));
}

std::wstring widen(std::string_view text) {
    std::u16string u = utf8_to_utf16(text);
    return std::wstring(reinterpret_cast<const wchar_t*>(u.data()), u.size());
}

}  // namespace sw::win
