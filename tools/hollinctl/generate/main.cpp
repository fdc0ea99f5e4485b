// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl-docs: writes the bash completion and the table's part of the
// manual page anew from hollinctl's command table.
//   hollinctl-docs COMPLETION_FILE MANUAL_PAGE
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "CompletionScript.h"
#include "ManualPage.h"

using namespace vesk::legacy::hollinctl;

namespace {

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "hollinctl-docs: cannot write %s\n", path.c_str());
    }
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: hollinctl-docs COMPLETION_FILE MANUAL_PAGE\n", stderr);
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream page;
    page << in.rdbuf();
    const std::string spliced = ManualPage::spliced(page.str());
    if (!in || page.str().find(ManualPage::kBegin) == std::string::npos) {
        std::fprintf(stderr, "hollinctl-docs: %s has no part made from the table\n", argv[2]);
        return 1;
    }
    return writeText(argv[1], CompletionScript::text()) && writeText(argv[2], spliced) ? 0 : 1;
}
