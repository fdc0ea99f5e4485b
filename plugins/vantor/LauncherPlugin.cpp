// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LauncherPlugin.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <vector>

#include "DesktopFolder.h"
#include "LauncherConstants.h"
#include "LauncherWriter.h"
#include "ManagedFile.h"
#include "PolicyCopy.h"
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
    : mAccess(access), mStopped(false), mListening(false), mRewrites(0) {
    mListPath.setPath(kLauncherNode);
    if (argc > 0 && argv != nullptr && argv[0] != nullptr && argv[0][0] != '\0') {
        mGivenDir = true;
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
    } catch (const std::exception& e) {
        Logger::error("An error occurred while stopping to listen for launcher changes: %s\n",
                      logText(e.what()).c_str());
    }
    // No longer registered; mRetry, destroyed first, waits for a retry that
    // is still running.
}

ConfigurationAccess& LauncherPlugin::access() const {
    return mAccess != nullptr ? *mAccess : ConfigurationAccess::defaultInstance();
}

void LauncherPlugin::setDefaultBaseDir() {
    mBaseDir = defaultDir(false);
}

std::string LauncherPlugin::defaultDir(bool plain) {
    const char* home = std::getenv("HOME");
    // A relative HOME would put the launchers into whatever the current
    // directory happens to be.
    if (home == nullptr || home[0] != '/') {
        return std::string();
    }
    std::string dir = plain ? std::string() : userDesktopDir();
    if (dir.empty()) {
        dir = std::string(home).size() > 1 ? home : "";
        dir += kDesktopDir;
    } else if (dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

void LauncherPlugin::execute() {
    if (mListening) {
        return;
    }
    // Listening first, so that no change between the read and the
    // registration is missed; the files are written even when it fails.
    std::exception_ptr failure;
    try {
        addListener();
    } catch (const Exception&) {
        failure = std::current_exception();
    }
    onChange();
    if (failure) {
        std::rethrow_exception(failure);
    }
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
    Logger::debug("Node added: component=%s, path=%s\n", logText(path.getComponent()).c_str(),
                  logText(path.getPath()).c_str());
}

void LauncherPlugin::onNodeRemoved(const NodePath& path) {
    Logger::debug("Node removed: component=%s, path=%s\n", logText(path.getComponent()).c_str(),
                  logText(path.getPath()).c_str());
}

void LauncherPlugin::onNodeChanged(const NodePath& path) {
    Logger::debug("Node changed: component=%s, path=%s\n", logText(path.getComponent()).c_str(),
                  logText(path.getPath()).c_str());
}

void LauncherPlugin::onChangeComplete() {
    onChange();
}

void LauncherPlugin::onChangeCompleteWith(const ChangeOutcome& outcome) {
    onChange(outcome);
}

void LauncherPlugin::onChange(const ChangeOutcome& outcome) {
    if (mStopped) {
        return;
    }
    const std::uint64_t since = mRetry.generation();
    PolicyCopy copy;
    try {
        if (mBaseDir.empty()) {
            throw Exception("HOME is not an absolute path and no desktop folder was given");
        }
        // Read first: if the configuration cannot be read, the launchers the
        // user has stay. Retries write from the copy.
        copy = outcome.tree ? PolicyCopy::take(outcome.tree, outcome.complete, kLauncherNode)
                            : PolicyCopy::take(access(), kLauncherNode);
    } catch (const Exception& e) {
        Logger::error("An error occurred creating the launchers: %s\n",
                      logText(e.getMessage()).c_str());
        return;
    }
    if (!copy.node && !copy.complete) {
        // No list because no policy could be read at all (no store, no kept
        // copy): the launchers stay until the store answers.
        Logger::warning("The launchers stay as they were until the policy can be read\n");
        return;
    }
    mRetry.runUnlessReplaced(since, [this, copy] { return write(copy.node.get(), copy.complete); });
}

bool LauncherPlugin::write(const Node* list, bool complete) {
    // user-dirs.dirs may have moved the desktop folder since the last write
    // (xdg-user-dirs-update at the first login in another language), or
    // since an earlier session: our launchers in the folder left behind go.
    std::string dir = mBaseDir;
    if (!mGivenDir) {
        dir = defaultDir(false);
        if (mWrittenDir.empty()) {
            mWrittenDir = defaultDir(true);
        }
    }
    if (dir.empty()) {
        return true;
    }
    LauncherWriter writer(dir);
    if (list != nullptr) {
        list->visit(writer);
        writer.saveLauncher();
    }
    // The new set is in place; only now do the others go. Not after a read
    // that was not complete (the store unreachable, a layer broken): what it
    // lacks may only be missing from it.
    if (complete) {
        removeLaunchers(dir, writer.getFileNames());
        if (!mWrittenDir.empty() && mWrittenDir != dir) {
            removeLaunchers(mWrittenDir);
        }
        mWrittenDir = dir;
    }
    ++mRewrites;
    return writer.getFailedCount() == 0;
}

void LauncherPlugin::removeLaunchers(const std::string& dir, const std::set<std::string>& keep) {
    ManagedFile::removeAll(dir.substr(0, dir.size() - 1), keep, "launcher");
}

}  // namespace vesk::legacy::plugins::launchers
