// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl export FOLDER: the policy directory of VESK_POLICY_STORE written
// as a store folder, one file per layer entry in its scope's folder -- the
// inverse of export-ldif, for a copy to plan on, check or keep.
//
//   VESK_POLICY_STORE=ldap://ldap.example.org/ou=policy,dc=example,dc=org hollinctl export
//   /srv/copy
#pragma once

#include <cstdio>

#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

class CommandIo;

class ExportFolder {
  public:
    static const char kHelp[];
    // Returns the exit status: 1 when an entry was left out.
    static int run(const CommandLine& line, CommandIo& io);
};

}  // namespace vesk::legacy::hollinctl
