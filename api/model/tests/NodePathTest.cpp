// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>

#include "model/NodePath.h"

using namespace vesk::legacy;
using Names = std::vector<std::string>;

// One path object for all rows: a reused path keeps nothing of the last text.
TEST(NodePath, SetPathSplitsAfterTheFirstSlashKeepingEmptyNames) {
    struct Case {
        std::string text, component, path;
        Names names;
    } cases[] = {
        {"comp/a/b", "comp", "/a/b", {"a", "b"}},
        {"", "", "", {}},
        {"comp/", "comp", "/", {""}},
        {"comp", "comp", "", {}},
        {"comp/a/", "comp", "/a/", {"a", ""}},
        {"comp//a", "comp", "//a", {"", "a"}},
        {"/a", "", "/a", {"a"}},
        {" c / a b ", " c ", "/ a b ", {" a b "}},
        {"c/\xc3\xa9\\/x", "c", "/\xc3\xa9\\/x", {"\xc3\xa9\\", "x"}},
    };
    NodePath path;
    for (const Case& c : cases) {
        path.setPath(c.text);
        EXPECT_EQ(path.getComponent(), c.component) << c.text;
        EXPECT_EQ(path.getPath(), c.path) << c.text;
        EXPECT_EQ(path.getNames(), c.names) << c.text;
    }
}

TEST(NodePath, CompareSaysWhereTheArgumentLies) {
    struct Case {
        std::string self, other;
        NodePath::CompareResult result;
    } cases[] = {
        {"comp", "comp", NodePath::Equal},
        {"comp", "comp/a/b", NodePath::Descendant},
        {"comp", "other", NodePath::Different},
        {"comp", "Comp/a", NodePath::Different},
        {"comp/a/b", "comp/a", NodePath::Ancestor},
        {"comp/a/b", "comp", NodePath::Ancestor},
        {"comp/a/b", "comp/a/b/c", NodePath::Descendant},
        {"comp/a/b", "comp/a/c", NodePath::Different},
        {"comp/a/b", "comp/x", NodePath::Different},
        {"comp/a/b", "comp/a/b", NodePath::Equal},
        {"comp/a", "comp/a/", NodePath::Descendant},
        {"comp/a", "comp/A", NodePath::Different},
        {"comp/a", "comp/a ", NodePath::Different},
    };
    for (const Case& c : cases) {
        NodePath self, other;
        self.setPath(c.self);
        other.setPath(c.other);
        EXPECT_EQ(self.compare(other), c.result) << c.self << " vs " << c.other;
    }

    // Built from names, the same as parsed; the names overload ignores the component.
    NodePath self("comp", {"a", "b"});
    EXPECT_EQ(self.getPath(), "/a/b");
    EXPECT_EQ(NodePath("comp", {}).getPath(), "");
    NodePath parsed;
    parsed.setPath("comp/a/b");
    EXPECT_EQ(self.compare(parsed), NodePath::Equal);
    EXPECT_EQ(self.compare(Names{"a"}), NodePath::Ancestor);
    EXPECT_EQ(self.compare(Names{}), NodePath::Ancestor);
    EXPECT_EQ(self.compare(Names{"a", "x", "c"}), NodePath::Different);
}
