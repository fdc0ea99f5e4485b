#include "access/ConfigurationAccess.h"

#include <exception>

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

ConfigurationAccess::ConfigurationAccess() = default;

ConfigurationAccess::ConfigurationAccess(const std::string& connectionString)
    : mPolicyAccess(connectionString) {}

ConfigurationAccess::~ConfigurationAccess() {
    // Not under mMutex: unregistering waits for a callback in progress, and
    // that callback waits for mMutex.
    std::vector<std::string> components;
    {
        std::lock_guard<std::recursive_mutex> lock(mMutex);
        for (const auto& entry : mDiffListeners) {
            components.push_back(entry.first);
        }
    }
    for (const std::string& component : components) {
        try {
            mPolicyAccess.removeListener(componentPath(component), this);
        } catch (const Exception& e) {
            Logger::error("Stop listening to component %s: %s\n", logText(component).c_str(),
                          logText(e.getMessage()).c_str());
        }
    }
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    mDiffListeners.clear();
    mTrees.clear();
}

std::unique_ptr<Tree> ConfigurationAccess::buildTree(const std::string& component) const {
    NodePath path = componentPath(component);
    std::vector<PolicyLayer> layers;
    mPolicyAccess.getPolicyLayers(path, layers);

    TreeMerger merger;
    try {
        for (const PolicyLayer& layer : layers) {
            merger.merge(layer);
        }
    } catch (...) {
        delete merger.getTree();  // the merger never frees the tree it built
        throw;
    }
    std::unique_ptr<Tree> tree(merger.getTree());
    if (!tree) {
        tree = std::make_unique<Tree>();
    }
    return tree;
}

Tree* ConfigurationAccess::getTree(const std::string& component) const {
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    return treeOf(component);
}

Tree* ConfigurationAccess::treeOf(std::string_view component) const {
    auto found = mTrees.find(component);
    if (found != mTrees.end()) {
        return found->second.get();
    }
    const std::string name(component);
    std::unique_ptr<Tree> tree = buildTree(name);
    Tree* result = tree.get();
    mTrees[name] = std::move(tree);
    return result;
}

Node* ConfigurationAccess::getNode(const std::string& path) const {
    // Split as NodePath::setPath does (every "/" after the first separates,
    // empty names count), into views of the path: this is the hot read, and
    // it builds no strings.
    const std::string_view text(path);
    const size_t slash = text.find('/');
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    Node* node = treeOf(text.substr(0, slash))->getRoot();
    if (slash == std::string_view::npos) {
        return node;
    }
    for (size_t start = slash + 1; node != nullptr;) {
        const size_t end = text.find('/', start);
        StructuralNode* structural = node->asStructuralNode();
        if (structural == nullptr) {
            return nullptr;
        }
        node = structural->findChild(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return node;
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

void ConfigurationAccess::addListener(const NodePath& path, INodeListener* listener) {
    const std::string component = path.getComponent();
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    getTree(component);
    std::unique_ptr<DiffListener>& diffListener = mDiffListeners[component];
    if (!diffListener) {
        diffListener = std::make_unique<DiffListener>(component);
    }
    // Every call, so that a registration that failed once is tried again; a
    // repeat changes nothing. The registration stays while the tree is kept.
    mPolicyAccess.addListener(componentPath(component), this);
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
    auto found = mTrees.find(component);
    if (found == mTrees.end()) {
        return;  // never read: nobody can hold anything of it
    }
    std::unique_ptr<Tree> newTree;
    try {
        newTree = buildTree(component);
    } catch (const Exception& e) {
        Logger::error("Keeping the previous configuration of %s: %s\n", logText(component).c_str(),
                      logText(e.getMessage()).c_str());
        return;
    } catch (const std::exception& e) {
        Logger::error("Keeping the previous configuration of %s: %s\n", logText(component).c_str(),
                      logText(e.what()).c_str());
        return;
    }
    // The old tree lives until the comparison is over and is freed on every path.
    std::unique_ptr<Tree> oldTree = std::move(found->second);
    found->second = std::move(newTree);
    const Tree& current = *found->second;

    auto diffListener = mDiffListeners.find(component);
    if (diffListener == mDiffListeners.end()) {
        return;
    }
    try {
        TreeDiff diff(component, diffListener->second.get(), oldTree.get());
        current.substract(*oldTree, diff);
    } catch (const Exception& e) {
        Logger::error("Reporting the changes of %s: %s\n", logText(component).c_str(),
                      logText(e.getMessage()).c_str());
    } catch (const std::exception& e) {
        Logger::error("Reporting the changes of %s: %s\n", logText(component).c_str(),
                      logText(e.what()).c_str());
    }
}

}  // namespace vesk::legacy
