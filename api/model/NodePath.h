// SPDX-License-Identifier: LGPL-2.1-or-later
// The address of a node: a component name and the names of the nodes from
// below the component's root down to the node.
//
//   NodePath path;
//   path.setPath("com.orvek.ferrun.applications/startup_list");
//   path.getComponent();  // "com.orvek.ferrun.applications"
//   path.getNames();      // {"startup_list"}
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT NodePath {
  public:
    // Where the argument of compare lies relative to this path.
    enum CompareResult {
        Different = -1,  // differs at some name or in the component
        Equal = 0,
        Ancestor = 1,   // fewer names, all equal to the first of ours
        Descendant = 2  // more names, ours equal to its first
    };

    NodePath();
    NodePath(const std::string& component, const std::vector<std::string>& names);

    // Component before the first "/", names between the following slashes.
    // Empty names are kept and nothing is trimmed.
    void setPath(const std::string& text);

    // The one split of "/"-separated names: each(name) for every name in
    // order, until it returns false. Every "/" separates and empty names
    // count ("a//b" is "a", "", "b"; "" is one empty name). False when each
    // stopped the walk.
    template <class Each>
    static bool forEachName(std::string_view names, Each&& each);

    // One name more or less at the end: a walk keeps one path up to date at
    // the cost of the name, instead of building each node's path anew.
    void append(const std::string& name);
    void removeLast();  // nothing when there are no names

    CompareResult compare(const NodePath& other) const;
    // Compares the names alone; the component is not looked at.
    CompareResult compare(const std::vector<std::string>& names) const;

    const std::string& getComponent() const { return mComponent; }
    const std::string& getPath() const { return mPath; }
    const std::vector<std::string>& getNames() const { return mNames; }

  private:
    std::string mComponent;
    std::string mPath;  // from the first "/" on, slash included
    std::vector<std::string> mNames;
};

template <class Each>
bool NodePath::forEachName(std::string_view names, Each&& each) {
    // On the hot read of every program: names are short, so the slash is
    // found by an inline scan rather than a library call per name.
    const char* next = names.data();
    const char* const end = next + names.size();
    while (true) {
        const char* stop = next;
        while (stop != end && *stop != '/') {
            ++stop;
        }
        if (!each(std::string_view(next, static_cast<std::size_t>(stop - next)))) {
            return false;
        }
        if (stop == end) {
            return true;
        }
        next = stop + 1;
    }
}

}  // namespace vesk::legacy
