// The three tables, each defined in a file of its own.
#pragma once

#include <cstddef>
#include <string_view>

#include "i18n/strings.h"

namespace sw::i18n_tables {

extern const StringTable kEnglish;
extern const StringTable kSpanish;
extern const StringTable kChinese;

template <size_t N>
constexpr StringTable make_table(const std::string_view (&texts)[N]) {
    static_assert(N == kTextCount, "every table has one text per position");
    StringTable table{};
    for (size_t i = 0; i < N; ++i)
        table[i] = texts[i];
    return table;
}

}  // namespace sw::i18n_tables
