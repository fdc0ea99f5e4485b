// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CacheCommand.h"

#include "CacheRefresh.h"
#include "CacheShow.h"
#include "CommandIo.h"
#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

const char CacheCommand::kHelp[] =
    "Usage: HOLLIN_CACHE_DIR=FOLDER hollinctl cache refresh --user NAME [COMPONENT...]\n"
    "       hollinctl cache show [--user NAME] [COMPONENT...] [--format=text|json]\n"
    "\n"
    "show: what each kept copy holds, for whom, from which layers and when it was\n"
    "written (in HOLLIN_CACHE_DIR, else the user's cache folder).\n"
    "\n"
    "refresh: run as root: reads the user's policy of every component (or those named) and\n"
    "keeps each one that reads in full in FOLDER, owned by root and readable by the\n"
    "user's primary group. Programs of the user started with the same\n"
    "HOLLIN_CACHE_DIR serve these copies when the store cannot be read in full at\n"
    "start, and the user cannot change them. Run it from a timer or at login.\n"
    "FOLDER and every folder above it must be root's and writable by no one else.\n";

int CacheCommand::run(const CommandLine& line, CommandIo& io) {
    if (!line.getArguments().empty() && line.getArguments()[0] == "show") {
        return CacheShow::run(line, io.out(), io.err());
    }
    return CacheRefresh::run(line, io.out(), io.err());
}

}  // namespace vesk::legacy::hollinctl
