// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LauncherWriter.h"

#include <gio/gio.h>

#include <algorithm>
#include <vector>

#include "DesktopFolder.h"
#include "ExecLine.h"
#include "LauncherConstants.h"
#include "ManagedFile.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"
#include "model/PropertyNode.h"

namespace vesk::legacy::plugins::launchers {

namespace {

const char kDefaultLocale[] = "default";

// A list is written as the desktop entry format writes lists: items joined
// with ";". The text of a list-typed property would be empty.
std::string valueText(const PropertyNode& property, const std::string& locale) {
    if (!property.isList()) {
        return property.getStringValue(locale);
    }
    std::string text;
    const char* separator = "";
    for (const std::string& item : property.getListValue(locale)) {
        text += separator;
        text += item;
        separator = ";";
    }
    return text;
}

// GNOME's desktop runs only launchers marked trusted in GIO's metadata, and
// Xfce's only those whose recorded SHA-256 matches the file, so an edited
// launcher asks again; only gvfs keeps such metadata, and without gvfs
// neither desktop asks for it.
void markTrusted(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    gchar* text = nullptr;
    gsize size = 0;
    gchar* sum = nullptr;
    if (g_file_get_contents(path.c_str(), &text, &size, &error)) {
        sum = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<guchar*>(text), size);
        g_free(text);
    }
    if (sum == nullptr ||
        !g_file_set_attribute_string(file, "metadata::trusted", "true", G_FILE_QUERY_INFO_NONE,
                                     nullptr, &error) ||
        !g_file_set_attribute_string(file, "metadata::xfce-exe-checksum", sum,
                                     G_FILE_QUERY_INFO_NONE, nullptr, &error)) {
        Logger::debug("The launcher %s is not marked trusted: %s\n", logText(path).c_str(),
                      logText(error != nullptr ? error->message : "no checksum").c_str());
        g_clear_error(&error);
    }
    g_free(sum);
    g_object_unref(file);
}

}  // namespace

LauncherWriter::LauncherWriter(const std::string& baseDir)
    : mBaseDir(baseDir),
      mIsLink(false),
      mDefaultType(true),
      mItem(nullptr),
      mHasExec(false),
      mSkipping(false),
      mDepth(0),
      mFolderChecked(false) {}

LauncherWriter::~LauncherWriter() {
    saveLauncher();
}

bool LauncherWriter::preChildrenProcess(const Node& node) {
    if (node.asStructuralNode() != nullptr) {
        ++mDepth;
        if (node.getName() != kRootNode) {
            openLauncher(node.getName());
        }
    } else if (const PropertyNode* property = node.asPropertyNode()) {
        writeProperty(*property);
    }
    return true;
}

bool LauncherWriter::postChildrenProcess(const Node& node) {
    if (node.asStructuralNode() != nullptr) {
        // A launcher ends with its group, so a property of the list that
        // sorts after it has no launcher to go to.
        if (mDepth == 2) {
            saveLauncher();
            mSkipping = false;
        }
        --mDepth;
    }
    return true;
}

void LauncherWriter::openLauncher(const std::string& name) {
    saveLauncher();
    // Everything of a launcher starts afresh, so nothing of the one before
    // (its command, its link type) carries over.
    mName = name;
    mExec.clear();
    mHasExec = false;
    mHasName = false;
    mIsLink = false;
    mDefaultType = true;
    mSkipping = name.find('/') != std::string::npos;
    if (mSkipping) {
        Logger::error("Skipping a launcher whose name would leave the desktop folder: %s\n",
                      logText(name).c_str());
        return;
    }
    mItem = gnome_desktop_item_new();
}

void LauncherWriter::writeProperty(const PropertyNode& property) {
    const std::string& name = property.getName();
    if (mItem == nullptr) {
        if (!mSkipping) {
            Logger::warning("Ignoring a launcher property outside any launcher: %s\n",
                            logText(name).c_str());
        }
        return;
    }
    if (name == kExec) {
        mExec = valueText(property, kDefaultLocale);
        mHasExec = true;
        return;
    }
    if (name == kNameKey) {
        std::vector<std::string> named;
        property.getLocales(named);
        mHasName = !property.isLocalised() ||
                   std::find(named.begin(), named.end(), kDefaultLocale) != named.end();
    }
    if (name == kType) {
        mDefaultType = false;
        if (valueText(property, kDefaultLocale) == kLinkType) {
            mIsLink = true;
        }
    }
    std::vector<std::string> locales;
    if (property.isLocalised()) {
        property.getLocales(locales);
    } else {
        locales.push_back(kDefaultLocale);
    }
    for (const std::string& locale : locales) {
        if (property.isList()) {
            // Item by item, so that a ";" inside one stays inside it.
            const std::vector<std::string>& items = property.getListValue(locale);
            std::vector<const char*> strings;
            for (const std::string& item : items) {
                strings.push_back(item.c_str());
            }
            strings.push_back(nullptr);
            gnome_desktop_item_set_localestrings_lang(mItem, name.c_str(), locale.c_str(),
                                                      strings.data());
        } else {
            gnome_desktop_item_set_localestring_lang(mItem, name.c_str(), locale.c_str(),
                                                     property.getStringValue(locale).c_str());
        }
    }
}

bool LauncherWriter::completeLauncher(std::string& why) {
    if (!mHasName) {
        why = "it has no Name";
        return false;
    }
    if (!mHasExec) {
        return true;
    }
    if (mIsLink) {
        gnome_desktop_item_set_string(mItem, kUrl, mExec.c_str());
        return true;
    }
    // Split as the shell splits and quoted anew, as the startup commands are.
    std::string exec;
    if (!ExecLine::quote(mExec, exec, why, true)) {
        why = "its Exec does not split into arguments: " + why;
        return false;
    }
    gnome_desktop_item_set_string(mItem, kExec, exec.c_str());
    return true;
}

void LauncherWriter::saveLauncher() {
    if (mItem == nullptr) {
        return;
    }
    if (mDefaultType) {
        gnome_desktop_item_set_string(mItem, kType, kAppType);
    }
    std::string why;
    if (!completeLauncher(why)) {
        // Desktops refuse or misread such a file; the one before goes too.
        Logger::warning("Skipping the launcher %s: %s\n", logText(mName).c_str(),
                        logText(why).c_str());
        gnome_desktop_item_unref(mItem);
        mItem = nullptr;
        return;
    }
    gnome_desktop_item_set_string(mItem, ManagedFile::kMarkerKey, "true");
    const std::string fileName = std::string(kPrefix) + mName + kDefltExt;
    const std::string path = mBaseDir + fileName;
    if (!mFolderChecked) {
        mFolderChecked = true;
        std::string why;
        if (!ensureDesktopDir(mBaseDir, why)) {
            Logger::error("Could not create the desktop folder %s: %s\n", logText(mBaseDir).c_str(),
                          logText(why).c_str());
        }
    }
    GError* error = nullptr;
    if (gnome_desktop_item_save(mItem, path.c_str(), TRUE, &error)) {
        markTrusted(path);
    } else {
        Logger::error("Could not save the launcher %s: %s\n", logText(path).c_str(),
                      logText(error != nullptr ? error->message : "unknown failure").c_str());
        g_clear_error(&error);
        ++mFailed;
    }
    mFileNames.insert(fileName);
    gnome_desktop_item_unref(mItem);
    mItem = nullptr;
    mIsLink = false;
    mDefaultType = true;
}

}  // namespace vesk::legacy::plugins::launchers
