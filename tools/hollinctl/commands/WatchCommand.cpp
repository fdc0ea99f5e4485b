#include "WatchCommand.h"

#include <signal.h>

#include <memory>

#include "ChangePrinter.h"
#include "CommandIo.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "LayerWatch.h"
#include "PlanOptions.h"
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
    "Runs until interrupted (SIGINT or SIGTERM), then exits 0. A removed node is\n"
    "reported before and after its children.\n"
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
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Declared before the facade, so that it outlives every call it gets.
    ChangePrinter printer(io.out(), line.getFormat());
    std::unique_ptr<ConfigurationAccess> access;
    NodePath path;
    path.setPath(component);
    try {
        access = std::make_unique<ConfigurationAccess>(line.getEntity());
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot open", line.getEntity(), failure);
    }
    const PolicyStore store(PlanOptions::plan(line));
    printer.describeWith(&store);
    try {
        access->addListener(path, &printer);
    } catch (const PapiException& failure) {
        throw PolicyStore::serviceError("cannot watch " + quotedText(component) + " in",
                                        line.getEntity(), failure);
    }
    // A store that cannot be read now is watched all the same, for its return.
    io.noteServed(*access, component);
    LayerWatch layerWatch(store, component, printer);
    std::fprintf(io.err(), "Watching %s%s; stop with Ctrl-C.\n", printable(component).c_str(),
                 PlanOptions::where(store.plan()).c_str());
    std::fflush(io.err());
    layerWatch.start();

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    try {
        access->removeListener(path, &printer);
    } catch (const PapiException&) {
        // Leaving anyway; the facade withdraws what is left when destroyed.
    }
    return kSuccess;
}

}  // namespace vesk::legacy::hollinctl
