// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LayerFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "PolicyStore.h"
#include "ScopePlan.h"
#include "TextEscape.h"
#include "model/NodePath.h"
#include "output/RegularFile.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

bool LayerFiles::read(const std::string& fileName, std::string& text, std::string& problem) {
    return readRegularFile(fileName, kMaxLayerFile, "larger than 64 MiB", text, problem);
}

bool LayerFiles::readStandardInput(std::string& text, std::string& problem) {
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count == 0) {
            return true;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = std::strerror(errno);
            return false;
        }
        text.append(buffer, static_cast<size_t>(count));
        if (text.size() > kMaxLayerFile) {
            problem = "larger than 64 MiB";
            return false;
        }
    }
}

LayerInfo LayerFiles::readScope(const std::string& scope, const std::string& component) {
    const std::string fileName = PolicyStore::storePath() + "/" + scope + "/" + component + ".xml";
    LayerInfo info = LayerInfo::absent(scope);
    info.stamp = scope;
    struct stat status;
    if (!ScopePlan::namesAScope(scope) ||
        (::lstat(fileName.c_str(), &status) != 0 && errno == ENOENT)) {
        return info;
    }
    info.problem.clear();
    std::string text;
    std::string problem;
    if (!read(fileName, text, problem)) {
        info.problem = printable(fileName) + ": " + problem;
        return info;
    }
    NodePath path;
    path.setPath(component);
    const std::vector<LayerInfo> read = describeLayers(
        {PolicyLayer(path, PapiLayer(text.data(), static_cast<int>(text.size()), scope))});
    info = read.front();
    info.stamp = scope + " " + std::to_string(static_cast<long long>(status.st_mtime));
    info.time = status.st_mtime;
    return info;
}

}  // namespace vesk::legacy::hollinctl
