// SPDX-License-Identifier: LGPL-2.1-or-later
// `hollinctl check -r [STORE]`: every layer of a store folder checked, and
// what in the folder can never apply (its help is the check command's).
#pragma once

namespace vesk::legacy::hollinctl {

class CommandLine;
class CommandIo;

class CheckStoreCommand {
  public:
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
