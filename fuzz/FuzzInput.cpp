// SPDX-License-Identifier: LGPL-2.1-or-later
#include "FuzzInput.h"

#include <string_view>

namespace vesk::legacy::fuzz {

std::vector<std::string> splitFields(const uint8_t* data, size_t size, const std::string& separator,
                                     size_t maxFields) {
    // Searched in place: one copy of each field, none of the whole input
    // (up to 1 MiB per execution).
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < maxFields) {
        const size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            break;
        }
        fields.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    fields.emplace_back(text.substr(start));
    return fields;
}

}  // namespace vesk::legacy::fuzz
