// SPDX-License-Identifier: LGPL-2.1-or-later
// OperationType: what a layer element asks for, read from its "zel:op" attribute.
#pragma once

namespace vesk::legacy {

enum class OperationType : int {
    Replace = 1,  // "replace"
    Remove = 2,   // "remove"
    Modify = 3,   // "modify", any other text, or no "zel:op" at all
};

// The operation for a "zel:op" text (null for a missing attribute). Exact,
// case-sensitive comparison: "Remove" is a modify.
OperationType operationFromText(const char* text);
// Whether the text names an operation ("modify", "replace" or "remove").
bool isOperationText(const char* text);

}  // namespace vesk::legacy
