// Whether the libvesk of this build lets a program listen to a file store
// that is not there yet, which recovery without restart needs. The tests of
// that recovery skip where it cannot.
#pragma once

#include <stdlib.h>

#include <string>

#include "papi.h"

// Probes the file store folder missing, which must not exist; the
// environment is restored afterwards.
inline bool canListenBeforeTheStoreExists(const std::string& missing) {
    const char* previous = getenv("VESK_POLICY_STORE");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("VESK_POLICY_STORE", missing.c_str(), 1);
    PAPIStatus status = 0;
    bool listens = false;
    if (PAPI* handle = papiInitialise(nullptr, &status)) {
        PAPIListenerId id = papiAddListener(
            handle, "probe.component", [](const PAPIEvent*, void*) {}, nullptr, &status);
        listens = id != nullptr && status == 0;
        if (id != nullptr) {
            papiRemoveListener(handle, id, &status);
        }
        papiDeinitialise(handle, &status);
    }
    previous != nullptr ? setenv("VESK_POLICY_STORE", saved.c_str(), 1)
                        : unsetenv("VESK_POLICY_STORE");
    return listens;
}
