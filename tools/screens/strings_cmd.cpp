// strings LANG: one language's table of window texts as a JSON array, for
// translators and reviewers to read.
#include <cstdio>
#include <string>

#include "screens.h"
#include "core/text.h"
#include "i18n/strings.h"

namespace sw::screens {

int strings_command(const std::vector<std::string>& args) {
    std::optional<Language> language;
    if (args.size() == 1) language = language_from_settings_word(args[0]);
    if (!language) {
        std::fputs("usage: ortivex-screens strings en|es|zh\n", stderr);
        return 2;
    }
    const StringTable& table = string_table(*language);
    std::string out = "[";
    for (size_t i = 0; i < table.size(); ++i) {
        out += i == 0 ? "\n  " : ",\n  ";
        out += json_quoted(table[i]);
    }
    out += "\n]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace sw::screens
