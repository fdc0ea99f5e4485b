// SPDX-License-Identifier: LGPL-2.1-or-later
// Layer files read straight from disk or standard input, bounded as the
// policy service bounds them, for the commands that look past libvesk.
//
//   std::string text, problem;
//   if (!LayerFiles::read("/etc/vesk/store/default/c.xml", text, problem)) ...
#pragma once

#include <cstddef>
#include <string>

#include "LayerInfo.h"

namespace vesk::legacy::hollinctl {

class LayerFiles {
  public:
    // The service refuses larger layers too; a bigger file is no layer.
    static const size_t kMaxLayerFile = 64 * 1024 * 1024;

    // The whole file, or false with the reason.
    static bool read(const std::string& fileName, std::string& text, std::string& problem);
    // Standard input, up to the size of a layer.
    static bool readStandardInput(std::string& text, std::string& problem);
    // One scope's layer read straight from the file store: its row, or the
    // reason it cannot be read; "no file" where the scope has none.
    static LayerInfo readScope(const std::string& scope, const std::string& component);
    // A folder rather than a directory URL.
    static bool isFileStore(const std::string& store) {
        return store.find("://") == std::string::npos;
    }
};

}  // namespace vesk::legacy::hollinctl
