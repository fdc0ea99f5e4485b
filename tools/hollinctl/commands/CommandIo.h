// SPDX-License-Identifier: LGPL-2.1-or-later
// What every command writes through: the output and error streams, and the
// notes and warnings several commands give in the same words.
//
//   CommandIo io(stdout, stderr);
//   io.write("ok\n");
//   io.complain("warning: ...");     // "hollinctl: warning: ..." on the error stream
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "LayerInfo.h"

namespace vesk::legacy {
class ConfigurationAccess;
class Tree;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class CommandLine;

class CommandIo {
  public:
    // Neither stream is owned.
    CommandIo(std::FILE* out, std::FILE* err) : mOut(out), mErr(err) {}

    std::FILE* out() const { return mOut; }
    std::FILE* err() const { return mErr; }

    void write(const std::string& text);
    // A message on the error stream, "hollinctl: " before it.
    void complain(const std::string& message);
    // One line on the error stream when programs do not read the component
    // from its layers in full: what they read instead, and why.
    // The copy kept from the last complete build when that is what they read,
    // else null.
    std::shared_ptr<const Tree> noteServed(const std::string& component, const std::string& entity);
    // The same for a facade at hand; true when a note was written.
    bool noteServed(ConfigurationAccess& access, const std::string& component);
    // Warns of each broken layer on standard error, whatever the library's
    // logging says; kBrokenLayer with --strict when there is one.
    // keptCopy: programs starting now read the copy kept from the last
    // complete build rather than the layers up to the break.
    int reportBroken(const CommandLine& line, const std::vector<LayerInfo>& layers,
                     bool keptCopy = false);
    // Whether programs starting now get the kept copy rather than the layers.
    static bool servesKeptCopy(ConfigurationAccess& access, const std::string& component);
    // A warning when --entity, --groups or --host names no folder of a file
    // store, with the nearest name.
    void warnOfMissingFolder(const CommandLine& line);

  private:
    std::FILE* mOut;
    std::FILE* mErr;
};

}  // namespace vesk::legacy::hollinctl
