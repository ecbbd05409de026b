// UTF-16 text of the Windows API to and from the UTF-8 text used everywhere else.
#pragma once

#include <string>
#include <string_view>

namespace sw::win {

// Up to the first zero unit (or the end), unpaired surrogates replaced.
std::string narrow(std::wstring_view units);
std::string narrow(const wchar_t* units, size_t max_units);
std::wstring widen(std::string_view text);

}  // namespace sw::win
