// The commands of hollinctl: each checks its arguments and options, does its
// work on the policy service or the files named, writes its result to the
// output stream and returns the exit status. Failures are thrown as
// CommandError with their status.
//
//   Commands commands(stdout, stderr);
//   return commands.run(CommandLine::parse(argc, argv));
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "CommandLine.h"
#include "LayerInfo.h"

namespace vesk::legacy {
class ConfigurationAccess;
class Tree;
}  // namespace vesk::legacy

namespace vesk::legacy::hollinctl {

class Commands {
  public:
    // Neither stream is owned.
    Commands(std::FILE* out, std::FILE* err);

    int run(const CommandLine& line);

  private:
    int list(const CommandLine& line);
    int layers(const CommandLine& line);
    int dump(const CommandLine& line);
    int get(const CommandLine& line);
    int watch(const CommandLine& line);
    int check(const CommandLine& line);
    int checkStore(const CommandLine& line);
    // set, unset, lock, unlock.
    int edit(const CommandLine& line);

    void write(const std::string& text);
    // One line on the error stream when programs do not read the component
    // from its layers in full: what they read instead, and why.
    // The copy kept from the last complete build when that is what they read,
    // else null.
    std::shared_ptr<const Tree> noteServed(const std::string& component, const std::string& entity);
    // The same for a facade at hand; true when a note was written.
    bool noteServed(ConfigurationAccess& access, const std::string& component);
    // A message on the error stream, "hollinctl: " before it.
    void complain(const std::string& message);
    // Warns of each broken layer on standard error, whatever the library's
    // logging says; kBrokenLayer with --strict when there is one.
    // keptCopy: programs starting now read the copy kept from the last
    // complete build rather than the layers up to the break.
    int reportBroken(const CommandLine& line, const std::vector<LayerInfo>& layers,
                     bool keptCopy = false);
    // A warning when --entity or --user names no folder of a file store.
    void warnOfMissingFolder(const CommandLine& line);

    std::FILE* mOut;
    std::FILE* mErr;
};

}  // namespace vesk::legacy::hollinctl
