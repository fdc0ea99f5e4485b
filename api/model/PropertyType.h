// SPDX-License-Identifier: LGPL-2.1-or-later
// The value types a property can have. Values are always held as text; the
// type only decides whether a property holds one text or a list of texts.
#pragma once

namespace vesk::legacy {

// The underlying type is fixed so that values outside the enumerators (the
// merger uses -1 for "structural node") are well defined.
enum PropertyType : int {
    TypeBoolean = 0,        // "xs:boolean"
    TypeShort = 1,          // "xs:short"
    TypeInt = 2,            // "xs:int"
    TypeLong = 3,           // "xs:long"
    TypeDouble = 4,         // "xs:double"
    TypeString = 5,         // "xs:string"
    TypeHexBinary = 6,      // "xs:hexBinary"
    TypeBooleanList = 7,    // "zel:boolean-list"
    TypeShortList = 8,      // "zel:short-list"
    TypeIntList = 9,        // "zel:int-list"
    TypeLongList = 10,      // "zel:long-list"
    TypeDoubleList = 11,    // "zel:double-list"
    TypeStringList = 12,    // "zel:string-list"
    TypeHexBinaryList = 13  // "zel:hexBinary-list"
};

// The one test of text against list. Storing, reading and freeing a value all
// go through it, so a value is never read as the other kind.
inline bool isListType(PropertyType type) {
    return type >= TypeBooleanList && type <= TypeHexBinaryList;
}

}  // namespace vesk::legacy
