// SPDX-License-Identifier: LGPL-2.1-or-later
/* Stand-in kiosk administration: "kxkiosk -i PROFILE" imports the
 * applications table into the active list of the profile. */
#include <stdio.h>
#include <string.h>

#include "kxtools.h"

int main(int argc, char** argv) {
    const char* root = kx_take_root(&argc, &argv);
    if (argc != 3 || strcmp(argv[1], "-i") != 0) {
        fprintf(stderr, "usage: kxkiosk [--root DIR] -i PROFILE\n");
        return 1;
    }
    return kx_import_table(root, argv[2]);
}
