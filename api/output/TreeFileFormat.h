// SPDX-License-Identifier: LGPL-2.1-or-later
// Words of tree files that the update-layer format does not have, shared by
// the writer (NodeSerialize) and the reader (TreeFileReader).
#pragma once

#include "model/PropertyType.h"

namespace vesk::legacy {

// First line of every tree file.
constexpr char kTreeFileHeader[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Type names written, indexed by PropertyType. The list types are "xs:...-list"
// here; the reader also takes the layer format's "zel:...-list".
extern const char* const kTreeFileTypeNames[14];

// The type name written for a type; "xs:string" for a value outside the table.
const char* treeFileTypeName(PropertyType type);

// On a "value" element of a list whose items joined give no text at all:
// "0" for an empty list, "1" for a list of one empty item. A list without a
// value has neither, as its block was written before lists could be read back.
constexpr char kItemsAttribute[] = "zel:items";

}  // namespace vesk::legacy
