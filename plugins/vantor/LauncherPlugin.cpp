#include "LauncherPlugin.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <vector>

#include "LauncherConstants.h"
#include "LauncherWriter.h"
#include "access/ConfigurationAccess.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"

namespace vesk::legacy::plugins::launchers {

LauncherPlugin::LauncherPlugin() : LauncherPlugin(0, nullptr, nullptr) {}

LauncherPlugin::LauncherPlugin(int argc, const char* const* argv)
    : LauncherPlugin(argc, argv, nullptr) {}

LauncherPlugin::LauncherPlugin(int argc, const char* const* argv, ConfigurationAccess* access)
    : mAccess(access), mStopped(false), mListening(false), mListRemovalOpen(false), mRewrites(0) {
    mListPath.setPath(kLauncherNode);
    if (argc > 0 && argv != nullptr && argv[0] != nullptr && argv[0][0] != '\0') {
        mBaseDir = argv[0];
        if (mBaseDir.back() != '/') {
            mBaseDir += '/';
        }
    } else {
        setDefaultBaseDir();
    }
}

LauncherPlugin::~LauncherPlugin() {
    mStopped = true;
    // Throwing out of a destructor would end the process.
    try {
        removeListener();
    } catch (const Exception& e) {
        Logger::error("An error occurred while stopping to listen for launcher changes: %s\n",
                      logText(e.getMessage()).c_str());
    } catch (const std::exception& e) {
        Logger::error("An error occurred while stopping to listen for launcher changes: %s\n",
                      logText(e.what()).c_str());
    }
    // No longer registered: wait for a rewrite that is still running.
    std::lock_guard<std::mutex> wait(mRewriteMutex);
}

ConfigurationAccess& LauncherPlugin::access() const {
    return mAccess != nullptr ? *mAccess : ConfigurationAccess::defaultInstance();
}

void LauncherPlugin::setDefaultBaseDir() {
    const char* home = std::getenv("HOME");
    // A relative HOME would put the launchers into whatever the current
    // directory happens to be.
    if (home == nullptr || home[0] != '/') {
        mBaseDir.clear();
        return;
    }
    mBaseDir = std::string(home).size() > 1 ? home : "";
    mBaseDir += kDesktopDir;
}

void LauncherPlugin::execute() {
    if (mListening) {
        return;
    }
    onChange();
    addListener();
}

void LauncherPlugin::addListener() {
    Logger::info("listening for changes to launcher definitions\n");
    access().addListener(mListPath, this);
    mListening = true;
}

void LauncherPlugin::removeListener() {
    Logger::info("finished listening for changes to launcher definitions\n");
    access().removeListener(mListPath, this);
    mListening = false;
}

void LauncherPlugin::onNodeAdded(const NodePath& path) {
    notified(Added, "Node added: component=%s, path=%s\n", path);
}

void LauncherPlugin::onNodeRemoved(const NodePath& path) {
    notified(Removed, "Node removed: component=%s, path=%s\n", path);
}

void LauncherPlugin::onNodeChanged(const NodePath& path) {
    notified(Changed, "Node changed: component=%s, path=%s\n", path);
}

void LauncherPlugin::notified(Kind kind, const char* format, const NodePath& path) {
    Logger::debug(format, logText(path.getComponent()).c_str(), logText(path.getPath()).c_str());
    if (mStopped) {
        return;
    }
    std::lock_guard<std::mutex> lock(mRewriteMutex);
    if (mStopped) {
        return;
    }
    // A change reports every changed node from the bottom up, the list itself
    // last, so the list's own report closes the change. A removed list is
    // reported first and once more at the close.
    if (mListPath.compare(path) != NodePath::Equal) {
        if (kind != Removed) {
            mListRemovalOpen = false;
        }
        return;
    }
    if (kind == Removed && mListRemovalOpen) {
        mListRemovalOpen = false;
        return;
    }
    mListRemovalOpen = kind == Removed;
    rewrite();
}

void LauncherPlugin::onChange() {
    std::lock_guard<std::mutex> lock(mRewriteMutex);
    rewrite();
}

void LauncherPlugin::rewrite() {
    ++mRewrites;
    try {
        if (mBaseDir.empty()) {
            throw Exception("HOME is not an absolute path and no desktop folder was given");
        }
        // Read first: if the configuration cannot be read, the launchers the
        // user has stay.
        Node* list = access().getNode(kLauncherNode);
        LauncherWriter writer(mBaseDir);
        if (list != nullptr) {
            list->visit(writer);
            writer.saveLauncher();
        }
        // The new set is in place; only now do the others go.
        removeLaunchers(writer.getFileNames());
    } catch (const Exception& e) {
        Logger::error("An error occurred creating the launchers: %s\n",
                      logText(e.getMessage()).c_str());
    }
}

void LauncherPlugin::removeLaunchers(const std::set<std::string>& keep) {
    DIR* dir = opendir(mBaseDir.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string prefix = kPrefix;
    std::vector<std::string> doomed;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0 && keep.count(name) == 0) {
            doomed.push_back(name);
        }
    }
    closedir(dir);
    for (const std::string& name : doomed) {
        unlink((mBaseDir + name).c_str());  // a failure leaves that one file
    }
}

}  // namespace vesk::legacy::plugins::launchers
