#include "LayerWords.h"

namespace vesk::legacy::hollinctl {

namespace {

const char* const kTypeNames[] = {
    "xs:boolean",    "xs:short",        "xs:int",           "xs:long",           "xs:double",
    "xs:string",     "xs:hexBinary",    "zel:boolean-list", "zel:short-list",    "zel:int-list",
    "zel:long-list", "zel:double-list", "zel:string-list",  "zel:hexBinary-list"};
const int kTypeCount = static_cast<int>(sizeof(kTypeNames) / sizeof(kTypeNames[0]));

}  // namespace

ElementKind elementKind(const std::string& name) {
    if (name == "zel:component-data" || name == "node" || name == "zel:node" || name == "group" ||
        name == "zel:group" || name == "set" || name == "zel:set") {
        return ElementKind::Structural;
    }
    if (name == "prop") {
        return ElementKind::Property;
    }
    if (name == "value") {
        return ElementKind::Value;
    }
    return ElementKind::Other;
}

const char* layerTypeName(PropertyType type) {
    const int index = static_cast<int>(type);
    return index >= 0 && index < kTypeCount ? kTypeNames[index] : kTypeNames[TypeString];
}

bool isLayerTypeName(const std::string& name) {
    for (const char* known : kTypeNames) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

}  // namespace vesk::legacy::hollinctl
