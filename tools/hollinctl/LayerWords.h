// The words of the update-layer format as the library's reader knows them:
// element kinds and property type names. Output uses them so that what
// hollinctl shows is what an administrator writes in a layer.
#pragma once

#include <string>

#include "model/PropertyType.h"

namespace vesk::legacy::hollinctl {

enum class ElementKind { Structural, Property, Value, Other };

// Names count exactly as written, prefix included: "zel:prop" is no property.
ElementKind elementKind(const std::string& name);

// "xs:string", "zel:string-list" and so on; "xs:string" outside the table.
const char* layerTypeName(PropertyType type);
// Whether the reader knows the type name (otherwise it reads xs:string).
bool isLayerTypeName(const std::string& name);

}  // namespace vesk::legacy::hollinctl
