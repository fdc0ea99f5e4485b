#!/bin/sh
# CPack gives every package with a library in /usr/lib a postinst and postrm
# that only run ldconfig, which dpkg's ldconfig trigger does already: takes
# such scripts out of the packages in the folder given, leaving any other.
#   dist/drop-ldconfig-scripts.sh BUILD_DIR
set -eu
for deb in "$1"/*.deb; do
    tree=$(mktemp -d /tmp/hollin-deb-XXXXXX)
    dpkg-deb -R "$deb" "$tree"
    changed=
    for script in postinst postrm; do
        file=$tree/DEBIAN/$script
        # Nothing but the shebang, "set -e", blank lines, comments and the
        # ldconfig call (inside CPack's "if ... fi").
        if [ -f "$file" ] && grep -q ldconfig "$file" &&
            ! grep -Ev '^\s*(#|$|set -e|if \[ "\$1" = "(configure|remove)" \]; then|ldconfig|fi)' "$file" |
                grep -q .; then
            rm "$file"
            changed=1
        fi
    done
    [ -z "$changed" ] || dpkg-deb --root-owner-group -Zxz -b "$tree" "$deb" >/dev/null
    rm -rf "$tree"
done
