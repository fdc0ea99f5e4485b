// SPDX-License-Identifier: LGPL-2.1-or-later
#include "access/ConfigurationAccess.h"

#include <ctime>
#include <exception>
#include <iterator>

#include "change/DiffListener.h"
#include "change/TreeDiff.h"
#include "layers/TreeMerger.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "policy/PapiException.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy {

namespace {

const std::string& emptyString() {
    static const std::string* empty = new std::string();  // lives until exit, never destroyed
    return *empty;
}

const std::vector<std::string>& emptyList() {
    static const std::vector<std::string>* empty = new std::vector<std::string>();
    return *empty;
}

NodePath componentPath(const std::string& component) {
    return NodePath(component, std::vector<std::string>());
}

// A policy layer whose read notes where it broke instead of logging it.
class CheckedLayer : public IUpdateLayer {
  public:
    CheckedLayer(const PolicyLayer& layer, XmlUpdateLayer::ParseError& error)
        : mLayer(layer), mError(error) {}
    void read(ITreeHandler& handler) const override { mLayer.read(handler, &mError); }

  private:
    const PolicyLayer& mLayer;
    XmlUpdateLayer::ParseError& mError;
};

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::string timeText(std::time_t time) {
    struct tm parts;
    char buffer[64];
    if (::gmtime_r(&time, &parts) == nullptr ||
        std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S UTC", &parts) == 0) {
        return std::to_string(time);
    }
    return buffer;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string result;
    for (const std::string& text : texts) {
        result += (result.empty() ? "" : ", ") + text;
    }
    return result.empty() ? "none" : result;
}

// Logs that only the layers before a broken one are served; the reason to keep.
std::string beforeTheBreak(const std::string& component, const std::string& reason) {
    Logger::error(
        "Configuration of %s holds only the layers before the broken one, no copy was "
        "kept: %s\n",
        logText(component).c_str(), logText(reason).c_str());
    return "only the layers before the broken one, as " + reason + " and no copy was kept";
}

}  // namespace

ConfigurationAccess& ConfigurationAccess::defaultInstance() {
    static std::mutex creation;
    static std::unique_ptr<ConfigurationAccess> instance;
    std::lock_guard<std::mutex> lock(creation);
    if (!instance) {
        instance = std::make_unique<ConfigurationAccess>();
    }
    return *instance;
}

// What one read of a component's layers gave.
struct ConfigurationAccess::Build {
    std::unique_ptr<Tree> tree;  // never null
    bool complete = true;
    bool unread = false;  // nothing could be read: the tree is empty
    std::string reason;   // why it is not complete
    std::vector<std::string> stamps;
    std::uint64_t digest = TreeCache::kDigestStart;  // of the layers' texts
};

ConfigurationAccess::ConfigurationAccess()
    : mCache("", TreeCache::defaultFolder()), mCopies(TreeCacheWriter::shared()) {}

ConfigurationAccess::ConfigurationAccess(const std::string& connectionString)
    : mCache(connectionString, TreeCache::defaultFolder()),
      mCopies(TreeCacheWriter::shared()),
      mPolicyAccess(connectionString) {}

ConfigurationAccess::~ConfigurationAccess() {
    // Not under mMutex: unregistering waits for a callback in progress, and
    // that callback waits for mMutex.
    std::set<std::string> components;
    {
        std::lock_guard<std::recursive_mutex> lock(mMutex);
        components = mRegistered;
    }
    for (const std::string& component : components) {
        try {
            mPolicyAccess.removeListener(componentPath(component), this);
        } catch (const Exception& e) {
            Logger::error("Stop listening to component %s: %s\n", logText(component).c_str(),
                          logText(e.getMessage()).c_str());
        }
    }
    mCopies->drain();
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    mDiffListeners.clear();
    mPaths.clear();
    mLastServed = nullptr;
    mTrees.clear();
}

ConfigurationAccess::Build ConfigurationAccess::buildTree(const std::string& component) const {
    Build build;
    NodePath path = componentPath(component);
    std::vector<PolicyLayer> layers;
    try {
        mPolicyAccess.getPolicyLayers(path, layers);
    } catch (const PapiException& e) {
        // An unreachable service and an unreadable layer leave the component
        // to what was read before; anything else is the caller's to handle.
        if (e.getStatus() != PAPIConnectionFailure && e.getStatus() != PAPILdbFailure) {
            throw;
        }
        build.tree = std::make_unique<Tree>();
        build.complete = false;
        build.unread = true;
        build.reason =
            "the policy service could not read its layers (" + withoutLineEnd(e.getMessage()) + ")";
        return build;
    }

    std::size_t broken = layers.size();
    build.tree = merged(layers, broken, &build);
    if (broken < layers.size()) {
        // Half a layer may have lost a lock that a later layer then
        // overrides: where this tree is served (no copy kept), it holds only
        // the layers before the broken one.
        build.tree = merged(layers, broken, nullptr);
    }
    return build;
}

std::unique_ptr<Tree> ConfigurationAccess::merged(const std::vector<PolicyLayer>& layers,
                                                  std::size_t& count, Build* build) {
    TreeMerger merger;
    try {
        for (std::size_t index = 0; index < count; ++index) {
            const PolicyLayer& layer = layers[index];
            XmlUpdateLayer::ParseError error;
            merger.merge(CheckedLayer(layer, error));
            if (build == nullptr) {
                continue;
            }
            build->stamps.push_back(layer.getLayer().getStamp());
            build->digest = TreeCache::digest(build->digest, layer.getLayer().getText());
            if (error.failed) {
                build->complete = false;
                build->reason = "layer " + layer.getLayer().getStamp() + " breaks off at line " +
                                std::to_string(error.line) + ", column " +
                                std::to_string(error.column) + ": " + error.message;
                count = index;
                break;
            }
        }
    } catch (...) {
        merger.takeTree();  // dropped: the merger never frees the tree it built
        throw;
    }
    std::unique_ptr<Tree> tree = merger.takeTree();
    return tree ? std::move(tree) : std::make_unique<Tree>();
}

ConfigurationAccess::Served ConfigurationAccess::firstServed(const std::string& component,
                                                             Build build) const {
    Served served;
    if (build.complete) {
        served.tree = std::move(build.tree);
        served.complete = true;
        // In place before the first build returns, behind any copy posted
        // before it.
        mCopies->post(mCache, component, served.tree, std::move(build.stamps), build.digest);
        mCopies->drain();
        return served;
    }
    std::optional<TreeCache::Copy> copy;
    try {
        mCopies->drain();  // a copy this process still has to write is the newest
        copy = mCache.load(component);
    } catch (const std::exception& e) {
        Logger::error("Cannot read the kept copy of %s: %s\n", logText(component).c_str(),
                      logText(e.what()).c_str());
    }
    if (copy) {
        served.reason = "the copy in " + copy->file + " written " + timeText(copy->written) +
                        ", as " + build.reason;
        Logger::warning(
            "Configuration of %s served from the copy in %s, written %s from the "
            "layers %s: %s\n",
            logText(component).c_str(), logText(copy->file).c_str(),
            timeText(copy->written).c_str(), logText(joined(copy->stamps)).c_str(),
            logText(build.reason).c_str());
        served.tree = std::move(copy->tree);
        return served;
    }
    if (build.unread) {
        served.reason = "no policy, as " + build.reason + " and no copy was kept";
        Logger::error("No configuration for %s: %s, and no copy was kept\n",
                      logText(component).c_str(), logText(build.reason).c_str());
        served.empty = true;
    } else {
        served.reason = beforeTheBreak(component, build.reason);
    }
    served.tree = std::move(build.tree);
    return served;
}

Tree* ConfigurationAccess::getTree(const std::string& component) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    return const_cast<Tree*>(servedOf(component).tree.get());
}

std::shared_ptr<const Tree> ConfigurationAccess::snapshot(const std::string& component) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    return servedOf(component).tree;
}

bool ConfigurationAccess::isComplete(const std::string& component) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    try {
        return servedOf(component).complete;
    } catch (const std::exception&) {
        return false;  // nothing is served
    }
}

std::string ConfigurationAccess::getIncompleteReason(const std::string& component) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    auto found = mTrees.find(component);
    return found != mTrees.end() ? found->second.reason : std::string();
}

const ConfigurationAccess::Served& ConfigurationAccess::servedOf(std::string_view component) const {
    auto found = mTrees.find(component);
    if (found != mTrees.end()) {
        return found->second;
    }
    const std::string name(component);
    Served served = firstServed(name, buildTree(name));
    const bool incomplete = !served.complete;
    const Served& kept = mTrees[name] = std::move(served);
    if (incomplete && mRegistered.count(name) == 0) {
        // So that the component recovers when the service or the layer does,
        // whether or not anyone listens.
        try {
            mPolicyAccess.addListener(componentPath(name), const_cast<ConfigurationAccess*>(this));
            mRegistered.insert(name);
        } catch (const Exception& e) {
            Logger::warning("Cannot watch component %s for its recovery: %s\n",
                            logText(name).c_str(), logText(e.getMessage()).c_str());
            return kept;
        }
        // The layer may have been mended between the read and the registration.
        rebuild(name, false);
    }
    return kept;
}

Node* ConfigurationAccess::getNode(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    auto found = mPaths.find(path);
    return found != mPaths.end() ? found->second : walk(path);
}

Node* ConfigurationAccess::walk(const std::string& path) const {
    // Split as NodePath::setPath does: the component before the first "/",
    // then names. The last component holds no "/", so a path that starts
    // with it and a "/" or its end is of that component.
    const std::string_view text(path);
    const std::size_t last = mLastComponent.size();
    std::size_t slash = last < text.size() ? last : std::string_view::npos;
    if (mLastServed == nullptr || text.size() < last ||
        (slash != std::string_view::npos && text[slash] != '/') ||
        text.compare(0, last, mLastComponent) != 0) {
        slash = text.find('/');
        const std::string_view component = text.substr(0, slash);
        mLastServed = nullptr;  // stays so when servedOf throws
        const Served& served = servedOf(component);
        mLastComponent.assign(component.data(), component.size());
        mLastServed = &served;
    }
    Node* root = mLastServed->tree->getRoot();
    Node* node = slash == std::string_view::npos
                     ? root
                     : StructuralNode::findPath(root, text.substr(slash + 1));
    if (node != nullptr && path.size() <= kMaxPathLength) {
        // Missing paths are not kept: any text names one. A program reads
        // the same few paths again and again, so a full table starts over.
        if (mPaths.size() >= kMaxPaths) {
            mPaths.clear();
        }
        mPaths.emplace(path, node);
    }
    return node;
}

void ConfigurationAccess::forgetPaths(std::string_view component) const {
    for (auto entry = mPaths.begin(); entry != mPaths.end();) {
        const std::string_view path(entry->first);
        const bool inComponent = path.substr(0, component.size()) == component &&
                                 (path.size() == component.size() || path[component.size()] == '/');
        entry = inComponent ? mPaths.erase(entry) : std::next(entry);
    }
}

const std::string& ConfigurationAccess::getStringValue(const std::string& path) const {
    Node* node = getNode(path);
    PropertyNode* property = node != nullptr ? node->asPropertyNode() : nullptr;
    return property != nullptr ? property->getStringValue("default") : emptyString();
}

const std::vector<std::string>& ConfigurationAccess::getListValue(const std::string& path) const {
    Node* node = getNode(path);
    PropertyNode* property = node != nullptr ? node->asPropertyNode() : nullptr;
    return property != nullptr ? property->getListValue("default") : emptyList();
}

std::string ConfigurationAccess::getString(const std::string& path, const std::string& locale,
                                           const std::string& fallback) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    Node* node = getNode(path);
    PropertyNode* property = node != nullptr ? node->asPropertyNode() : nullptr;
    return property != nullptr && !property->isList() ? property->getStringValue(locale) : fallback;
}

std::vector<std::string> ConfigurationAccess::getList(
    const std::string& path, const std::string& locale,
    const std::vector<std::string>& fallback) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    Node* node = getNode(path);
    PropertyNode* property = node != nullptr ? node->asPropertyNode() : nullptr;
    return property != nullptr && property->isList() ? property->getListValue(locale) : fallback;
}

void ConfigurationAccess::addListener(const NodePath& path, INodeListener* listener) {
    const std::string component = path.getComponent();
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    const bool built = mTrees.find(component) != mTrees.end();
    const bool registered = mRegistered.count(component) != 0;
    if (!registered) {
        // Throws with nothing recorded, so the next call tries again. The
        // registration stays while the facade lives.
        mPolicyAccess.addListener(componentPath(component), this);
        mRegistered.insert(component);
    }
    if (!built) {
        servedOf(component);  // after the registration: every later edit is an event
    } else if (!registered) {
        // Built before the service watched it: an edit in between reached no one.
        rebuild(component, true);
    }
    std::unique_ptr<DiffListener>& diffListener = mDiffListeners[component];
    if (!diffListener) {
        diffListener = std::make_unique<DiffListener>(component);
    }
    diffListener->addListener(path, listener);
}

void ConfigurationAccess::removeListener(const NodePath& path, INodeListener* listener) {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    auto found = mDiffListeners.find(path.getComponent());
    if (found != mDiffListeners.end()) {
        found->second->removeListener(path, listener);
    }
}

void ConfigurationAccess::onComponentAdd(const std::string& component) const {
    onComponentChange(component);
}

void ConfigurationAccess::onComponentRemove(const std::string& component) const {
    onComponentChange(component);
}

void ConfigurationAccess::onComponentModify(const std::string& component) const {
    onComponentChange(component);
}

void ConfigurationAccess::onComponentChange(const std::string& component) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    if (mTrees.find(component) == mTrees.end()) {
        return;  // never read: nobody can hold anything of it
    }
    rebuild(component, true);
}

void ConfigurationAccess::rebuild(const std::string& component, bool logFailure) const {
    Served& served = mTrees.find(component)->second;
    const bool wasComplete = served.complete;
    Build build;
    try {
        build = buildTree(component);
    } catch (const std::exception& e) {
        Logger::error("Keeping the previous configuration of %s: %s\n", logText(component).c_str(),
                      logText(e.what()).c_str());
        return;
    }
    if (!build.complete) {
        // A layer caught half-written, or a store that went away: what was
        // served stays until the layers read in full again. Only where
        // nothing at all was served does a partial merge beat it.
        if (!served.empty || build.unread) {
            if (logFailure) {
                Logger::error("Keeping the previous configuration of %s: %s\n",
                              logText(component).c_str(), logText(build.reason).c_str());
            }
            return;
        }
        served.reason = beforeTheBreak(component, build.reason);
        served.empty = false;
    } else {
        served.complete = true;
        served.empty = false;
        served.reason.clear();
    }
    // The old tree lives until the comparison is over, and longer for those
    // holding a snapshot of it.
    std::shared_ptr<const Tree> oldTree = std::move(served.tree);
    forgetPaths(component);  // before the listeners read
    served.tree = std::move(build.tree);
    if (served.complete) {
        // Written on the writer's thread while the listeners hear of the
        // change; handed over first, so that a copy another facade keeps
        // from a later read lands after it. A process that ends abruptly
        // right after a change may lose that copy (the one before stays; a
        // normal exit writes it), which only matters at a later start
        // without the service.
        mCopies->post(mCache, component, served.tree, std::move(build.stamps), build.digest);
    }
    report(component, *oldTree, served, served.complete && !wasComplete);
}

void ConfigurationAccess::report(const std::string& component, const Tree& oldTree,
                                 const Served& current, bool becameComplete) const {
    auto diffListener = mDiffListeners.find(component);
    if (diffListener == mDiffListeners.end()) {
        return;
    }
    if (becameComplete) {
        diffListener->second->completeEveryoneNext();
    }
    // The listeners get the new tree with the change, so that none has to
    // come back for it under this lock. Put back afterwards: this change may
    // run inside another one's listener call.
    const DiffListener& listeners = *diffListener->second;
    ChangeOutcome outer = listeners.exchangeOutcome({current.tree, current.complete});
    try {
        TreeDiff diff(component, diffListener->second.get(), const_cast<Tree*>(&oldTree));
        current.tree->substract(oldTree, diff);
    } catch (const std::exception& e) {
        Logger::error("Reporting the changes of %s: %s\n", logText(component).c_str(),
                      logText(e.what()).c_str());
    }
    listeners.exchangeOutcome(std::move(outer));
}

}  // namespace vesk::legacy
