// SPDX-License-Identifier: LGPL-2.1-or-later
/* Stand-in group tool: prints the kiosk administration group id. */
#include "kxtools.h"

int main(int argc, char** argv) {
    const char* root = kx_take_root(&argc, &argv);
    return kx_print_admin_gid(root);
}
