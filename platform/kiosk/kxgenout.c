// SPDX-License-Identifier: LGPL-2.1-or-later
/* Stand-in recovery tool: rebuilds the table and the active list from
 * whatever the kiosk configuration holds now (nothing, if it is missing). */
#include "kxtools.h"

int main(int argc, char** argv) {
    const char* root = kx_take_root(&argc, &argv);
    if (kx_generate_table(root, 1) != 0)
        return 1;
    return kx_import_table(root, "kiosk");
}
