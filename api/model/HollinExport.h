// SPDX-License-Identifier: LGPL-2.1-or-later
// HOLLIN_EXPORT marks the classes libhollin.so exports; everything else in the
// library is hidden from the programs and plug-ins that load it.
#pragma once

#define HOLLIN_EXPORT __attribute__((visibility("default")))
