// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl export-ldif: the LDIF that loads a file store into an LDAP
// directory with ldapadd, laid out as libvesk's directory backend reads it
// (see vesk/ldap/README.md). Each layer's bytes go base64-encoded,
// exactly. What a directory cannot hold (names that are not UTF-8, names that
// differ only in case, files that are no layer) is reported and left out.
//
//   LdifExport exporter("/etc/vesk/store", "ou=policy,dc=example,dc=org");
//   std::vector<std::string> problems;
//   exporter.write(stdout, problems);     // throws CommandError(kNotFound)
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace vesk::legacy::hollinctl {

class LdifExport {
  public:
    LdifExport(std::string storeDir, std::string baseDn);

    // Writes the entries, parents first, in byte order of the names.
    void write(std::FILE* out, std::vector<std::string>& problems) const;

    // hollinctl export-ldif STORE_DIR BASE_DN: the exit status.
    static int run(const CommandLine& line, std::FILE* out, std::FILE* err);
    static const char* help();

    // An LDIF line "name: value", or "name:: base64" when the value is not a
    // safe string, folded at 76 columns.
    static std::string line(const std::string& name, const std::string& value);
    // A value escaped for a DN (RFC 4514).
    static std::string dnValue(const std::string& value);

  private:
    struct Layer {
        std::string component;
        std::string data;
    };

    std::vector<Layer> layersIn(const std::string& scope, std::vector<std::string>& problems) const;

    std::string mStoreDir;
    std::string mBaseDn;
};

}  // namespace vesk::legacy::hollinctl
