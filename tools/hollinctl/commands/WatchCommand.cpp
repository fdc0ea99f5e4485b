// SPDX-License-Identifier: LGPL-2.1-or-later
#include "WatchCommand.h"

#include <poll.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "ChangePrinter.h"
#include "CommandIo.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "LayerWatch.h"
#include "PlanOptions.h"
#include "PlannedWatch.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "TextEscape.h"
#include "access/ConfigurationAccess.h"
#include "model/NodePath.h"
#include "policy/PapiException.h"

namespace vesk::legacy::hollinctl {

const char WatchCommand::kHelp[] =
    "Usage: hollinctl watch COMPONENT [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Prints one line per change notification, as programs receive them: the event\n"
    "(added, removed, changed) and the node's address, children before their\n"
    "parents, then the node's value now, the layer that set it and the time.\n"
    "Runs until interrupted (SIGINT or SIGTERM) or until the output is closed\n"
    "(watch C | head -1), then exits 0. A removed node is reported before and\n"
    "after its children.\n"
    "\n"
    "With --user, --groups or --host it watches that planned stack of the file\n"
    "store's folders, merged anew after each change as a program of that user\n"
    "would merge it; not on a directory.\n"
    "\n"
    "The layers are reported as events of their own, with the time: \"broken\"\n"
    "(only what comes before the error applies; also at the start), \"mended\",\n"
    "\"vanished\" (a layer file gone), \"unreadable\" (the stack cannot be read\n"
    "and programs keep their previous tree) and \"readable\" again.\n"
    "\n"
    "  --format=json        one object a line: {\"event\", \"component\", \"path\",\n"
    "                       \"names\", \"value\", \"setBy\", \"time\"}; for layers\n"
    "                       {\"event\", \"component\", \"layer\", \"line\", \"column\",\n"
    "                       \"message\", \"time\"}\n";

namespace {

// Waits for SIGINT or SIGTERM, for the reader of the output to go away (a
// pipe's reading end closed: "watch C | head -1") or for a line that cannot
// be written. The errno of the output's failure, 0 for a signal.
int waitForTheEnd(const sigset_t& stopSignals, std::FILE* out, ChangePrinter& printer) {
    const int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    const int failed = ::eventfd(0, EFD_CLOEXEC);
    printer.onFailure([failed] {
        const uint64_t one = 1;
        (void)!::write(failed, &one, sizeof one);
    });
    // No events asked of the output: poll reports POLLERR when a pipe's
    // reader is gone, and nothing for files and terminals.
    struct pollfd wanted[] = {{signals, POLLIN, 0}, {failed, POLLIN, 0}, {::fileno(out), 0, 0}};
    int failure = 0;
    for (;;) {
        if (::poll(wanted, 3, -1) < 0 && errno != EINTR) {
            failure = errno;  // cannot wait: leave as for a failed output
            break;
        }
        if ((wanted[2].revents & (POLLERR | POLLHUP)) != 0) {
            failure = EPIPE;
            break;
        }
        if (wanted[1].revents != 0) {
            failure = printer.failure();
            break;
        }
        if (wanted[0].revents != 0) {
            break;
        }
    }
    printer.onFailure(nullptr);
    ::close(signals);
    ::close(failed);
    return failure;
}

// The facade of the caller's own stack, with the printer listening to the
// component as programs do.
std::unique_ptr<ConfigurationAccess> listen(const std::string& entity, const NodePath& path,
                                            ChangePrinter& printer) {
    std::unique_ptr<ConfigurationAccess> access;
    try {
        access = std::make_unique<ConfigurationAccess>(entity);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot open", entity, failure);
    }
    try {
        access->addListener(path, &printer);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot watch " + quotedText(path.getComponent()) + " in",
                                        entity, failure);
    }
    return access;
}

}  // namespace

int WatchCommand::run(const CommandLine& line, CommandIo& io) {
    line.expectArguments(1, 1);
    const std::string& component = line.getArguments()[0];
    PolicyStore::checkComponentName(component);

    // Blocked before the service starts its watcher thread, which inherits the
    // mask, so that the signals wait for sigwait here instead of killing us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // SIGPIPE too: a closed output is noticed as a write error or by poll,
    // and ends the watch with status 0 rather than by the signal.
    sigset_t blocked = stopSignals;
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    // Declared before the facade, so that it outlives every call it gets.
    ChangePrinter printer(io.out(), line.getFormat());
    ScopePlan plan = PlanOptions::plan(line);
    const bool planned = plan.isPlanned();
    // A planned stack is watched through the store folder's inotify events; a
    // directory would never report a change.
    if (planned && PolicyStore::storePath().find("://") != std::string::npos) {
        throw CommandError(kUsage, "watching a planned stack reads a store folder, not " +
                                       printable(PolicyStore::storePath()));
    }
    NodePath path;
    path.setPath(component);
    std::unique_ptr<ConfigurationAccess> access =
        planned ? nullptr : listen(line.getEntity(), path, printer);
    const PolicyStore store(std::move(plan));
    printer.describeWith(&store);
    if (access != nullptr) {
        // A store that cannot be read now is watched all the same, for its return.
        io.noteServed(*access, component);
    }
    LayerWatch layerWatch(store, component, printer);
    PlannedWatch plannedWatch(store, component, printer, layerWatch);
    if (planned) {
        plannedWatch.start();
    }
    std::fprintf(io.err(), "Watching %s%s; stop with Ctrl-C.\n", printable(component).c_str(),
                 PlanOptions::where(store.plan()).c_str());
    std::fflush(io.err());
    layerWatch.start();

    const int failure = waitForTheEnd(stopSignals, io.out(), printer);
    if (access != nullptr) {
        try {
            access->removeListener(path, &printer);
        } catch (const PapiException&) {
            // Leaving anyway; the facade withdraws what is left when destroyed.
        }
    }
    if (failure != 0) {
        // What could not be written is dropped, so that the exit does not
        // try again; a reader that left is no failure.
        __fpurge(io.out());
        std::clearerr(io.out());
        if (failure != EPIPE) {
            throw CommandError(kServiceError,
                               std::string("cannot write the output: ") + std::strerror(failure));
        }
    }
    return kSuccess;
}

}  // namespace vesk::legacy::hollinctl
