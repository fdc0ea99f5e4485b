// SPDX-License-Identifier: LGPL-2.1-or-later
// Where the layers of one handle come from: the file store or a directory.
// Used from the caller's threads and from the handle's watcher thread at once,
// so every implementation is thread-safe.
//
//   std::vector<Backend::Layer> layers;
//   PAPIStatus status = backend->readLayers("com.orvek.ferrun.applications", layers);
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ChangeSource.h"
#include "papi.h"

namespace vesk::legacy::store {

class Backend {
  public:
    struct Layer {
        std::string data;
        std::string stamp;  // scope and modification time, "users/alice 1733500000"
    };

    // What a component's layers look like now, to tell whether they changed
    // without reading them.
    struct Presence {
        bool unreachable = false;  // the store or directory cannot be read now
        bool hasLayers = false;
        std::vector<std::string> fingerprint;  // one entry per scope
    };

    virtual ~Backend() = default;

    // The component's layers, most general first; empty when it has none.
    virtual PAPIStatus readLayers(const std::string& component, std::vector<Layer>& layers) = 0;
    // Components with a layer in any scope, ascending, starting with the selector.
    virtual PAPIStatus listComponentNames(const std::string& selector,
                                          std::vector<std::string>& names) = 0;
    virtual Presence presence(const std::string& component) = 0;
    virtual std::unique_ptr<ChangeSource> makeChangeSource() = 0;
    // True when every change of a layer alters its fingerprint, so that a
    // change notice whose fingerprint is unchanged was already delivered.
    virtual bool exactFingerprints() const = 0;
    // How long a layer must stay away before its removal is delivered: a
    // file store's editors save by renaming the layer away and writing it
    // back, and the gap between must not apply the stack without it.
    virtual std::chrono::milliseconds removalSettling() const {
        return std::chrono::milliseconds(0);
    }
    // Why the store could not be read last time, in words for the
    // administrator; empty when nothing failed or nothing more is known.
    virtual std::string failureDetail() { return {}; }
};

}  // namespace vesk::legacy::store
