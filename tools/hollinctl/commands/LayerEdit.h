// SPDX-License-Identifier: LGPL-2.1-or-later
// The edits of "hollinctl set/unset/lock/unlock" on one layer's XML, made on
// the parsed document so that everything else in the layer (other settings,
// operations, comments) stays as written.
//
//   LayerEdit edit(text, "org.example");           // "" for a new layer
//   edit.set({"apps", "editor"}, "vi", "xs:string", false);
//   std::string result = edit.text();
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class LayerEdit {
  public:
    // Throws CommandError when the text is no layer that can be edited.
    LayerEdit(const std::string& text, const std::string& component);
    ~LayerEdit();
    LayerEdit(const LayerEdit&) = delete;
    LayerEdit& operator=(const LayerEdit&) = delete;

    // The property at names gets this one value (and the type, when not
    // empty), locked when lock is set.
    void set(const std::vector<std::string>& names, const std::string& value,
             const std::string& type, bool lock);
    // Drops this layer's element for the node, and the groups around it
    // that held nothing else; false when it has none.
    bool unset(const std::vector<std::string>& names);
    // Whether the layer has an element for the node.
    bool has(const std::vector<std::string>& names) const;
    // Sets or drops zel:finalized="true" on the node's element; a lock makes
    // the element (a group unless property is set) when there is none. unlock
    // is false when there is nothing to unlock.
    void lock(const std::vector<std::string>& names, bool property);
    bool unlock(const std::vector<std::string>& names);

    std::string text() const;

  private:
    struct Document;
    std::unique_ptr<Document> mDocument;
};

}  // namespace vesk::legacy::hollinctl
