// SPDX-License-Identifier: LGPL-2.1-or-later
#include "UserSettings.h"

#include <sys/stat.h>

#include "ExitStatus.h"
#include "PolicyStore.h"
#include "ScopePlan.h"
#include "SettingsMapping.h"
#include "access/TreeCache.h"
#include "layers/LayerLimitExceeded.h"
#include "layers/TreeMerger.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"

namespace vesk::legacy::settings {

namespace {

std::string scopeOf(const PolicyLayer& layer) {
    const std::string& stamp = layer.getLayer().getStamp();
    return stamp.substr(0, stamp.rfind(' '));
}

// Merges the layers; false with the reason when one cannot be read in full.
bool merge(const std::vector<PolicyLayer>& layers, std::unique_ptr<Tree>& tree,
           std::string& problem) {
    TreeMerger merger;
    bool whole = true;
    try {
        for (const PolicyLayer& layer : layers) {
            XmlUpdateLayer::ParseError error;
            if (!layer.read(merger, &error) && whole) {
                whole = false;
                problem = "the layer " + scopeOf(layer) + " is broken";
            }
        }
    } catch (...) {
        merger.takeTree();  // dropped
        problem = "the layers are too large";
        return false;
    }
    tree = merger.takeTree();
    return whole;
}

}  // namespace

UserSettings::UserSettings(std::string user, std::string cacheFolder)
    : mUser(std::move(user)), mCacheFolder(std::move(cacheFolder)) {}

UserSettings::~UserSettings() = default;

bool UserSettings::read() {
    const std::string component = SettingsMapping::kComponent;
    TreeCache cache("hollin-dconf " + mUser, mCacheFolder);
    std::unique_ptr<Tree> merged;
    try {
        hollinctl::PolicyStore store(hollinctl::ScopePlan::forUser(mUser, std::nullopt, ""));
        mLayers = store.readLayers(component);
        mComplete = merge(mLayers, merged, mProblem);
    } catch (const hollinctl::CommandError& failure) {
        mComplete = false;
        mProblem = failure.getMessage();
    }
    if (mComplete) {
        mTree = std::move(merged);
        std::vector<std::string> stamps;
        std::uint64_t digest = TreeCache::kDigestStart;
        for (const PolicyLayer& layer : mLayers) {
            stamps.push_back(layer.getLayer().getStamp());
            digest = TreeCache::digest(digest, layer.getLayer().getText());
        }
        cache.store(component, mTree ? *mTree : Tree(), stamps, digest);
        return true;
    }
    std::optional<TreeCache::Copy> copy = cache.load(component);
    if (!copy) {
        return false;
    }
    mTree = std::move(copy->tree);
    mProblem += "; serving the copy in " + copy->file;
    return true;
}

std::string UserSettings::layerOf(const std::vector<std::string>& names) const {
    std::string found;
    for (const PolicyLayer& layer : mLayers) {
        std::unique_ptr<Tree> alone;
        std::string problem;
        merge({layer}, alone, problem);
        if (alone && StructuralNode::findPath(alone->getRoot(), names) != nullptr) {
            found = scopeOf(layer);
        }
    }
    return found;
}

std::string UserSettings::signature(const std::string& user) {
    const hollinctl::ScopePlan plan = hollinctl::ScopePlan::forUser(user, std::nullopt, "");
    const std::string root = hollinctl::PolicyStore::storePath();
    std::string text = root;
    for (const std::string& scope : plan.scopes()) {
        struct stat info;
        const std::string file = root + "/" + scope + "/" + SettingsMapping::kComponent + ".xml";
        text += "|" + scope;
        if (::stat(file.c_str(), &info) == 0) {
            text += " " + std::to_string(info.st_ino) + " " + std::to_string(info.st_size) + " " +
                    std::to_string(info.st_mtim.tv_sec) + "." +
                    std::to_string(info.st_mtim.tv_nsec) + " " + std::to_string(info.st_mode);
        } else {
            text += " " + std::to_string(errno);
        }
    }
    return text;
}

}  // namespace vesk::legacy::settings
