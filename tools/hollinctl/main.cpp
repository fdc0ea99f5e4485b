// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl: the administrator's view of effective desktop policy.
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "CommandHelp.h"
#include "CommandLine.h"
#include "Commands.h"
#include "ExitStatus.h"
#include "TextEscape.h"
#include "access/TreeCache.h"
#include "model/Exception.h"
#include "model/Logger.h"

using namespace vesk::legacy;
using namespace vesk::legacy::hollinctl;

namespace {

int runCommand(int argc, char** argv) {
    // Alone, so that a package test or a script asks nothing of the store.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("hollinctl " HOLLIN_VERSION);
        return kSuccess;
    }
    const CommandLine line = CommandLine::parse(argc, argv);
    if (line.hasStore()) {
        // libvesk reads the store from the variable; the option only sets it.
        setenv("VESK_POLICY_STORE", line.getStore().c_str(), 1);
    }
    // "hollinctl dump --help" is "hollinctl help dump".
    if (line.isHelpRequested()) {
        std::fputs(CommandHelp::forCommand(line.getCommand()).c_str(), stdout);
        return kSuccess;
    }
    if (line.getCommand().empty()) {
        throw CommandError(kUsage, "no command given");
    }
    // What a command reads never replaces a kept copy: only cache refresh
    // writes copies, into the folder it is pointed at.
    TreeCache::setWritesCopies(false);
    return Commands(stdout, stderr).run(line);
}

}  // namespace

int main(int argc, char** argv) {
    Logger::initialise("hollinctl");
    int status;
    try {
        status = runCommand(argc, argv);
    } catch (const CommandError& error) {
        std::fprintf(stderr, "hollinctl: %s\n", error.getMessage().c_str());
        if (error.getStatus() == kUsage) {
            std::fputs("Try 'hollinctl --help'.\n", stderr);
        }
        status = error.getStatus();
    } catch (const std::bad_alloc&) {
        std::fputs("hollinctl: out of memory\n", stderr);
        status = kServiceError;
    } catch (const std::exception& error) {
        std::string message = error.what();
        while (!message.empty() && message.back() == '\n') {
            message.pop_back();
        }
        std::fprintf(stderr, "hollinctl: %s\n", printable(message).c_str());
        status = kServiceError;
    }
    // A full disk or a closed pipe must not pass for success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "hollinctl: cannot write the output: %s\n", std::strerror(errno));
        if (status == kSuccess) {
            status = kServiceError;
        }
    }
    Logger::uninitialise();
    return status;
}
