// SPDX-License-Identifier: LGPL-2.1-or-later
// Writes one JSON document into a string, adding the commas and colons. Every
// string goes through the same escaping, so the document is valid whatever the
// policy holds: control characters become \n, \t or \u00XX escapes, and bytes
// that are not UTF-8 become U+FFFD (JSON has no way to carry raw bytes).
//
//   JsonWriter json;
//   json.beginObject().key("path").string("/a").key("names").beginArray()
//       .string("a").endArray().endObject();
//   std::puts(json.text().c_str());      // {"path":"/a","names":["a"]}
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy {
class PropertyNode;
}

namespace vesk::legacy::hollinctl {

class JsonWriter {
  public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    // The name of the next member; only inside an object.
    JsonWriter& key(const std::string& name);
    JsonWriter& string(const std::string& text);
    JsonWriter& number(long long value);
    JsonWriter& boolean(bool value);
    JsonWriter& null();
    // The property's value for locale: an array of its items for a list, a
    // string otherwise.
    JsonWriter& value(const PropertyNode& property, const std::string& locale);

    const std::string& text() const { return mText; }

    // Appends text as a quoted, escaped JSON string.
    static void appendString(std::string& out, const std::string& text);

  private:
    // Writes the comma a value needs before it; a value after a key needs none.
    void separate();
    void open(char bracket);
    void close(char bracket);

    std::string mText;
    // One entry per open object or array: whether nothing was written in it yet.
    std::vector<bool> mEmpty;
    bool mAfterKey = false;
};

}  // namespace vesk::legacy::hollinctl
