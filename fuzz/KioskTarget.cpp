// SPDX-License-Identifier: LGPL-2.1-or-later
// The kiosk checks and the stand-in kiosk tools on untrusted input (the tools
// run as root on files a group may write). The input is used twice:
// - as one settings file as anyone in the group could place it, read by the
//   table generator and, when it accepts it, the table read by the importer;
// - cut at NUL bytes into an application name and up to four setting names and
//   values, checked as the kiosk plug-in checks them; what passes is written as
//   the plug-in writes it and handed to the tools.
//
// Findings: a table the generator wrote that the importer refuses; settings
// the plug-in's checks pass that the tools refuse, or that do not reach the
// active list as the name and command set.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "ScratchDirectory.h"
#include "TreeChecks.h"
#include "VELAppsWriter.h"
#include "kxtools.h"

namespace vesk::legacy::fuzz {

namespace {

constexpr size_t kMaxSettings = 4;

const std::string& root() {
    static const std::string sRoot = [] {
        const std::string path = ScratchDirectory::path() + "/kiosk";
        for (const std::string& part :
             {path, path + "/var", path + "/var/opt", path + "/var/opt/MERXkx",
              path + "/var/opt/MERXkx/kiosk", path + KX_CONFIG_DIR}) {
            ::mkdir(part.c_str(), 0700);
        }
        return path;
    }();
    return sRoot;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Only the one settings file in the configuration folder.
void placeSettings(const std::string& name, const std::string& text) {
    const std::string folder = root() + KX_CONFIG_DIR;
    for (const char* old : {"raw", "app"}) {
        ::unlink((folder + "/" + old).c_str());
    }
    std::ofstream(folder + "/" + name, std::ios::binary) << text;
}

void fuzzTools(const std::string& text) {
    placeSettings("raw", text);
    if (kx_generate_table(root().c_str(), 0) == 0 &&
        kx_import_table(root().c_str(), "kiosk") != 0) {
        finding("the importer refuses a table the generator wrote");
    }
}

void fuzzChecks(const std::vector<std::string>& fields) {
    ApplicationSettings settings;
    settings["name"] = fields[0];
    for (size_t i = 1; i + 1 < fields.size(); i += 2) {
        settings[fields[i]] = fields[i + 1];
    }
    const auto path = settings.find("pathapp");
    if (path == settings.end() || path->second.empty() ||
        !checkApplicationSettings(settings).empty() || !checkApplicationName(fields[0]).empty()) {
        return;
    }
    // As the plug-in writes it, under a fixed file name (the name's own
    // checks were passed above; the scratch folder takes any such name).
    std::string text;
    for (const auto& setting : settings) {
        text += setting.first + "=\"" + setting.second + "\"\n";
    }
    placeSettings("app", text);
    if (kx_generate_table(root().c_str(), 0) != 0) {
        finding("the table generator refuses settings the plug-in accepts");
    }
    if (kx_import_table(root().c_str(), "kiosk") != 0) {
        finding("the importer refuses settings the plug-in accepts");
    }
    const std::string active = readAll(root() + KX_ACTIVE_FILE);
    const std::string line = settings["name"] + "\t" + path->second + "\n";
    if (active.find("\n" + line) == std::string::npos) {
        finding("the active list lacks the application");
    }
}

}  // namespace

int fuzzKiosk(const uint8_t* data, size_t size) {
    fuzzTools(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> fields = splitFields(data, size, std::string(1, '\0'), SIZE_MAX);
    fields.resize(std::min(fields.size(), 1 + 2 * kMaxSettings));
    fuzzChecks(fields);
    return 0;
}

}  // namespace vesk::legacy::fuzz
