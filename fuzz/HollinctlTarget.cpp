// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl on mutated layers: the input is cut at "\n%%\n" into the layer of
// the default scope and a user's layer of one component in a scratch store.
// Two targets on the same inputs: "hollinctl check --format=json" on both
// files, and "hollinctl dump --format=json" on the component (the provenance
// of every node). Apart, each command meets twice the inputs in the same time,
// and its own coverage guides their mutation.
//
// Findings: an exit status above 3 (or an exception the tool lets out); JSON
// output that does not parse.
//
// The commands run in this process as the program runs them, on the layer
// files (the tool reads its arguments and its store from disk; the store is
// on a memory file system). The dump names its user, groups and host, so it
// reads the store's files along that stack itself: no connection to the
// service, no listener and no cached copy per input, and no user or host
// look-up. Output goes to memory.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "ExitStatus.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "JsonSyntax.h"
#include "ScratchDirectory.h"
#include "TreeChecks.h"
#include "model/Exception.h"

namespace vesk::legacy::fuzz {

namespace {

using hollinctl::CommandError;
using hollinctl::CommandLine;
using hollinctl::Commands;

constexpr char kComponent[] = "fuzz.component";
constexpr char kUser[] = "fuzz";
constexpr char kGroup[] = "fuzz-group";
constexpr char kHost[] = "fuzz-host";

struct Store {
    std::string defaultLayer;
    std::string userLayer;
};

const Store& store() {
    static const Store sStore = [] {
        const std::string root = ScratchDirectory::path() + "/store";
        const std::string userFolder = root + "/users/" + kUser;
        // The group and host the dump names have (empty) folders, as in a
        // store made for them: else every run warns of them, the same way.
        for (const std::string& folder :
             {root, root + "/default", root + "/users", userFolder, root + "/groups",
              root + "/groups/" + kGroup, root + "/hosts", root + "/hosts/" + kHost}) {
            ::mkdir(folder.c_str(), 0700);
        }
        setenv("VESK_POLICY_STORE", root.c_str(), 1);
        return Store{root + "/default/" + kComponent + ".xml",
                     userFolder + "/" + kComponent + ".xml"};
    }();
    return sStore;
}

// Runs one command line as the program would; returns its exit status and
// what it wrote to standard output.
int run(const std::vector<const char*>& arguments, std::string& output) {
    char* outText = nullptr;
    size_t outSize = 0;
    char* errText = nullptr;
    size_t errSize = 0;
    std::FILE* out = ::open_memstream(&outText, &outSize);
    std::FILE* err = ::open_memstream(&errText, &errSize);
    if (out == nullptr || err == nullptr) {
        finding("no memory stream for the output");
    }
    int status;
    try {
        const CommandLine line =
            CommandLine::parse(static_cast<int>(arguments.size()), arguments.data());
        status = Commands(out, err).run(line);
    } catch (const CommandError& error) {
        status = error.getStatus();
    } catch (const Exception&) {
        status = hollinctl::kServiceError;
    }
    std::fclose(out);
    std::fclose(err);
    output.assign(outText, outSize);
    std::free(outText);
    std::free(errText);
    return status;
}

void writeFile(const std::string& path, const std::string& text) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0 || ::write(file, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        finding("cannot write the scratch layer " + path);
    }
    ::close(file);
}

// Writes the input's layers into the store: the default scope's, and the
// user's when the input has a second.
std::vector<std::string> placeLayers(const Store& paths, const uint8_t* data, size_t size) {
    std::vector<std::string> layers = splitFields(data, size, "\n%%\n", 2);
    writeFile(paths.defaultLayer, layers[0]);
    if (layers.size() > 1) {
        writeFile(paths.userLayer, layers[1]);
    } else {
        ::unlink(paths.userLayer.c_str());
    }
    return layers;
}

void runAndCheck(const std::vector<const char*>& arguments) {
    std::string output;
    const int status = run(arguments, output);
    if (status < 0 || status > 3) {
        finding(std::string("hollinctl ") + arguments[1] + " exits with " + std::to_string(status));
    }
    if (!output.empty() && !JsonSyntax::isValid(output)) {
        finding(std::string("hollinctl ") + arguments[1] + " writes JSON that does not parse");
    }
}

}  // namespace

int fuzzHollinctlCheck(const uint8_t* data, size_t size) {
    const Store& paths = store();
    const std::vector<std::string> layers = placeLayers(paths, data, size);
    std::vector<const char*> check = {"hollinctl", "check", "--format=json",
                                      paths.defaultLayer.c_str()};
    if (layers.size() > 1) {
        check.push_back(paths.userLayer.c_str());
    }
    runAndCheck(check);
    return 0;
}

int fuzzHollinctlDump(const uint8_t* data, size_t size) {
    placeLayers(store(), data, size);
    runAndCheck({"hollinctl", "dump", kComponent, "--user", kUser, "--groups", kGroup, "--host",
                 kHost, "--format=json"});
    return 0;
}

}  // namespace vesk::legacy::fuzz
