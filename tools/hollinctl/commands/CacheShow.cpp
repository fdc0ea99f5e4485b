// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CacheShow.h"

#include <dirent.h>
#include <pwd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "DumpWriter.h"
#include "ExitStatus.h"
#include "JsonWriter.h"
#include "LayerInfo.h"
#include "TextEscape.h"
#include "access/TreeCache.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::hollinctl {

namespace {

// The folder of the copies: $HOLLIN_CACHE_DIR (as root, the user's folder
// that cache refresh fills), else the user's own cache folder.
std::string folderOf(const CommandLine& line) {
    const char* chosen = std::getenv("HOLLIN_CACHE_DIR");
    if ((chosen == nullptr || *chosen == '\0') && line.hasUser()) {
        const struct passwd* user = ::getpwnam(line.getUser().c_str());
        if (user == nullptr) {
            throw CommandError(kNotFound, "no user " + quotedText(line.getUser()));
        }
        return std::string(user->pw_dir) + "/.cache/hollin";
    }
    return TreeCache::defaultFolder();
}

int hexValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// The component a copy's file name stands for; "" for a name cut to fit.
std::string decoded(const std::string& name) {
    std::string text;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '~') {
            return "";
        }
        if (name[i] == '%' && i + 2 < name.size() && hexValue(name[i + 1]) >= 0 &&
            hexValue(name[i + 2]) >= 0) {
            text += static_cast<char>(hexValue(name[i + 1]) * 16 + hexValue(name[i + 2]));
            i += 2;
        } else {
            text += name[i];
        }
    }
    return text;
}

std::vector<std::string> componentsIn(const std::string& folder, const std::string& entity) {
    const std::string prefix = TreeCache::encodeName(entity) + "@";
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> entries(::opendir(folder.c_str()), ::closedir);
    for (struct dirent* entry; entries && (entry = ::readdir(entries.get()));) {
        const std::string name = entry->d_name;
        if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - 4, 4, ".xml") == 0) {
            const std::string component =
                decoded(name.substr(prefix.size(), name.size() - prefix.size() - 4));
            if (!component.empty()) {
                names.push_back(component);
            }
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One line per property below node: its path and value, as dump shows values.
void listValues(const Node& node, const std::string& path, std::string& text) {
    if (const PropertyNode* property = node.asPropertyNode()) {
        const PropertyNode::Value* value = property->findBestValue("default");
        text += "  " + printable(path) + "  " +
                (value != nullptr && value->isSet() ? DumpWriter::valueText(*property, "default")
                                                    : "-") +
                "\n";
        return;
    }
    if (const StructuralNode* group = node.asStructuralNode()) {
        std::vector<std::string> children;
        group->getChildren(children);
        std::sort(children.begin(), children.end());
        for (const std::string& child : children) {
            listValues(*group->getChild(child), path + "/" + child, text);
        }
    }
}

}  // namespace

int CacheShow::run(const CommandLine& line, std::FILE* out, std::FILE* err) {
    const std::string folder = folderOf(line);
    if (folder.empty()) {
        throw CommandError(kNotFound, "no copies are kept: HOLLIN_CACHE_DIR is not a folder");
    }
    const std::string& entity = line.getEntity();
    std::vector<std::string> components(line.getArguments().begin() + 1, line.getArguments().end());
    const bool named = !components.empty();
    if (!named) {
        components = componentsIn(folder, entity);
    }
    const std::string whose = line.hasUser()   ? "user " + quotedText(line.getUser())
                              : entity.empty() ? std::string("the current user")
                                               : "entity " + quotedText(entity);
    const TreeCache cache(entity, folder);
    const bool json = line.getFormat() == OutputFormat::Json;
    JsonWriter document;
    document.beginObject().key("folder").string(folder).key("copies").beginArray();
    std::string text;
    int status = kSuccess;
    for (const std::string& component : components) {
        const std::optional<TreeCache::Copy> copy = cache.load(component);
        if (!copy) {
            std::fprintf(err, "hollinctl: no copy of %s for %s in %s\n",
                         quotedText(component).c_str(), whose.c_str(), printable(folder).c_str());
            status = kNotFound;
            continue;
        }
        if (json) {
            document.beginObject()
                .key("component")
                .string(component)
                .key("file")
                .string(copy->file);
            document.key("written").number(static_cast<long long>(copy->written));
            document.key("layers").beginArray();
            for (const std::string& stamp : copy->stamps) {
                document.string(stamp);
            }
            document.endArray().endObject();
            continue;
        }
        text += printable(component) + " for " + whose + ": the copy " + printable(copy->file) +
                ", written " + formatTime(static_cast<long long>(copy->written)) + ", from " +
                std::to_string(copy->stamps.size()) + " layer" +
                (copy->stamps.size() == 1 ? "" : "s") + ":\n";
        for (size_t i = 0; i < copy->stamps.size(); ++i) {
            LayerInfo layer = describeStamp(copy->stamps[i]);
            text += "  " + std::to_string(i + 1) + "  " + printable(layer.scope) +
                    (layer.time >= 0 ? " (" + formatTime(layer.time) + ")" : "") + "\n";
        }
        text += "holding:\n";
        listValues(*copy->tree->getRoot(), "", text);
    }
    if (json) {
        text = document.endArray().endObject().text() + "\n";
    }
    std::fwrite(text.data(), 1, text.size(), out);
    if (!named && components.empty()) {
        std::fprintf(err, "hollinctl: no copies for %s in %s\n", whose.c_str(),
                     printable(folder).c_str());
        return kNotFound;
    }
    return status;
}

}  // namespace vesk::legacy::hollinctl
