// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/OperationType.h"

#include <cstring>

namespace vesk::legacy {

OperationType operationFromText(const char* text) {
    if (text == nullptr) {
        return OperationType::Modify;
    }
    if (std::strcmp(text, "replace") == 0) {
        return OperationType::Replace;
    }
    if (std::strcmp(text, "remove") == 0) {
        return OperationType::Remove;
    }
    return OperationType::Modify;
}

bool isOperationText(const char* text) {
    return text != nullptr &&
           (std::strcmp(text, "modify") == 0 || std::strcmp(text, "replace") == 0 ||
            std::strcmp(text, "remove") == 0);
}

}  // namespace vesk::legacy
