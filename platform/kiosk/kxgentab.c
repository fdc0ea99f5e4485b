// SPDX-License-Identifier: LGPL-2.1-or-later
/* Stand-in first tool: builds the applications table from the installed
 * kiosk configuration. */
#include "kxtools.h"

int main(int argc, char** argv) {
    const char* root = kx_take_root(&argc, &argv);
    return kx_generate_table(root, 0);
}
