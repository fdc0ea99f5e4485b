// SPDX-License-Identifier: LGPL-2.1-or-later
// Entry points of the fuzz targets, shared by the libFuzzer binaries (one per
// function, see FuzzMain.cpp) and by the regression test that replays every
// seed and every input that once failed. Each takes any bytes and returns 0; a
// finding aborts with a message (see TreeChecks.h), which both callers catch.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk::legacy::fuzz {

// One to three layers read and merged in order, then the tree checked.
int fuzzLayerMerge(const uint8_t* data, size_t size);
// A tree file read into an empty and into a non-empty tree.
int fuzzTreeFile(const uint8_t* data, size_t size);
// A tree from a layer, written, read back and compared with the original.
int fuzzRoundTrip(const uint8_t* data, size_t size);
// Sections, keys and values through gnome_config and desktop items, then the
// written files parsed back with GLib.
int fuzzKeyFile(const uint8_t* data, size_t size);
// hollinctl check, and hollinctl dump, in JSON on one or two layers of a
// scratch store (the same inputs; seeds in corpus/hollinctl).
int fuzzHollinctlCheck(const uint8_t* data, size_t size);
int fuzzHollinctlDump(const uint8_t* data, size_t size);
// The kiosk plug-in's name and value checks and the stand-in kiosk tools.
int fuzzKiosk(const uint8_t* data, size_t size);
// startlist reading and rewriting a hand-edited session-manual.
int fuzzSessionManual(const uint8_t* data, size_t size);
// LDAP DN and filter escaping, parsed back.
int fuzzLdapEscape(const uint8_t* data, size_t size);

}  // namespace vesk::legacy::fuzz
