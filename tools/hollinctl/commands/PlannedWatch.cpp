// SPDX-License-Identifier: LGPL-2.1-or-later
#include "PlannedWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "ChangePrinter.h"
#include "ExitStatus.h"
#include "LayerWatch.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "TextEscape.h"
#include "change/DiffListener.h"
#include "change/TreeDiff.h"
#include "model/NodePath.h"
#include "model/Tree.h"

namespace vesk::legacy::hollinctl {

namespace {

// Whatever can make a layer of the folder appear, change or go.
const uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                         IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

PlannedWatch::PlannedWatch(const PolicyStore& store, const std::string& component,
                           ChangePrinter& printer, LayerWatch& layers)
    : mStore(store), mComponent(component), mPrinter(printer), mLayers(layers) {}

PlannedWatch::~PlannedWatch() {
    if (mThread.joinable()) {
        const uint64_t one = 1;
        (void)!::write(mStop, &one, sizeof one);
        mThread.join();
    }
    for (const int fd : {mInotify, mStop}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void PlannedWatch::start() {
    mInotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    mStop = ::eventfd(0, EFD_CLOEXEC);
    if (mInotify < 0 || mStop < 0) {
        throw CommandError(kServiceError, "cannot watch the policy store " +
                                              printable(PolicyStore::storePath()) + ": " +
                                              std::strerror(errno));
    }
    watchFolders();
    try {
        mTree = std::make_unique<Tree>(Provenance(mStore.readLayers(mComponent)).getTree());
    } catch (const CommandError&) {
        // Unreadable now: the layer events say so; the first reading that
        // works is the tree later ones are compared with.
    }
    mThread = std::thread([this] { run(); });
}

void PlannedWatch::watchFolders() {
    const std::string root = PolicyStore::storePath();
    ::inotify_add_watch(mInotify, root.c_str(), kEvents);
    for (const std::string& scope : mStore.plan().scopes()) {
        const size_t slash = scope.find('/');
        if (slash != std::string::npos) {
            ::inotify_add_watch(mInotify, (root + "/" + scope.substr(0, slash)).c_str(), kEvents);
        }
        ::inotify_add_watch(mInotify, (root + "/" + scope).c_str(), kEvents);
    }
}

void PlannedWatch::run() {
    struct pollfd wanted[] = {{mInotify, POLLIN, 0}, {mStop, POLLIN, 0}};
    for (;;) {
        if (::poll(wanted, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (wanted[1].revents != 0) {
            return;
        }
        if (wanted[0].revents == 0) {
            continue;
        }
        // The whole batch at once: one merge for a file written in steps.
        alignas(struct inotify_event) char buffer[16384];
        while (::read(mInotify, buffer, sizeof buffer) > 0) {
        }
        try {
            watchFolders();
            examine();
            mLayers.examine();
        } catch (...) {
            // The watch goes on; the next change tries again.
        }
    }
}

void PlannedWatch::examine() {
    std::unique_ptr<Tree> now;
    try {
        now = std::make_unique<Tree>(Provenance(mStore.readLayers(mComponent)).getTree());
    } catch (const CommandError&) {
        return;  // programs keep their tree; LayerWatch reports why
    }
    if (mTree == nullptr) {
        mTree = std::move(now);  // the first tree read: nothing to compare
        return;
    }
    NodePath path;
    path.setPath(mComponent);
    DiffListener registry(mComponent);
    registry.addListener(path, &mPrinter);
    Tree old(*mTree);
    {
        Tree walked(*now);
        TreeDiff diff(mComponent, &registry, &old);
        walked.substract(old, diff);
    }
    registry.removeListener(path, &mPrinter);
    mTree = std::move(now);
}

}  // namespace vesk::legacy::hollinctl
