// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers of the launcher and deskrunner tests: scratch folders, files,
// policy layers of launchers, waiting for a change to show.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace launchertest {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using testsupport::listDir;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::waitUntil;
using testsupport::writeFile;

// The layer of the applications component holding body; a launcher list; a
// launcher with Name and Exec.
inline std::string layer(const std::string& body) {
    return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" "
           "zel:name=\"com.orvek.ferrun.applications\">" +
           body + "</zel:component-data>\n";
}
inline std::string launchers(const std::string& body) {
    return "<node zel:name=\"launcher_list\">" + body + "</node>";
}
inline std::string launcher(const std::string& name, const std::string& exec) {
    return "<node zel:name=\"" + name + "\"><prop zel:name=\"Exec\"><value>" + exec +
           "</value></prop><prop zel:name=\"Name\"><value>" + name + "</value></prop></node>";
}

}  // namespace launchertest
