// hollinctl on mutated layers: the input is cut at "\n%%\n" into the layer of
// the default scope and the current user's layer of one component in a
// scratch store. "hollinctl check" runs on both files and "hollinctl dump
// --format=json" on the component (the provenance of every node).
//
// Findings: an exit status above 3 (or an exception the tool lets out); JSON
// output that does not parse.
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
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

struct Store {
    std::string defaultLayer;
    std::string userLayer;
};

const Store& store() {
    static const Store sStore = [] {
        const std::string root = ScratchDirectory::path() + "/store";
        const struct passwd* user = ::getpwuid(::getuid());
        const std::string userFolder =
            root + "/users/" + (user != nullptr ? user->pw_name : "nobody");
        for (const std::string& folder : {root, root + "/default", root + "/users", userFolder}) {
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
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::fopen("/dev/null", "w");
    if (out == nullptr || err == nullptr) {
        finding("no temporary output file");
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
    std::fflush(out);
    std::rewind(out);
    output.clear();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) {
        output.append(buffer, n);
    }
    std::fclose(out);
    std::fclose(err);
    return status;
}

}  // namespace

int fuzzHollinctl(const uint8_t* data, size_t size) {
    const Store& paths = store();
    const std::vector<std::string> layers = splitFields(data, size, "\n%%\n", 2);
    std::ofstream(paths.defaultLayer, std::ios::binary | std::ios::trunc) << layers[0];
    ::unlink(paths.userLayer.c_str());
    if (layers.size() > 1) {
        std::ofstream(paths.userLayer, std::ios::binary) << layers[1];
    }
    std::string output;
    std::vector<const char*> check = {"hollinctl", "check", "--format=json",
                                      paths.defaultLayer.c_str()};
    if (layers.size() > 1) {
        check.push_back(paths.userLayer.c_str());
    }
    for (const auto& arguments :
         {check, std::vector<const char*>{"hollinctl", "dump", kComponent, "--format=json"}}) {
        const int status = run(arguments, output);
        if (status < 0 || status > 3) {
            finding(std::string("hollinctl ") + arguments[1] + " exits with " +
                    std::to_string(status));
        }
        if (!output.empty() && !JsonSyntax::isValid(output)) {
            finding(std::string("hollinctl ") + arguments[1] + " writes JSON that does not parse");
        }
    }
    return 0;
}

}  // namespace vesk::legacy::fuzz
