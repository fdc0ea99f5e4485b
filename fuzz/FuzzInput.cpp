#include "FuzzInput.h"

namespace vesk::legacy::fuzz {

std::vector<std::string> splitFields(const uint8_t* data, size_t size, const std::string& separator,
                                     size_t maxFields) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < maxFields) {
        const size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            break;
        }
        fields.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    fields.push_back(text.substr(start));
    return fields;
}

}  // namespace vesk::legacy::fuzz
