// Reads the layer files of one scope stack: each layer is the file
// <scope>/<component>.xml, taken byte for byte.
//
//   LayerStore store(stack);
//   std::vector<LayerStore::Layer> layers;
//   PAPIStatus status = store.readLayers("com.orvek.ferrun.applications", layers);
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ScopeStack.h"
#include "papi.h"

namespace vesk::legacy::store {

class LayerStore {
  public:
    // A layer larger than this is refused rather than read into memory.
    static constexpr off_t kMaxLayerSize = 64 * 1024 * 1024;

    struct Layer {
        std::string data;
        std::string stamp;  // scope and modification time, "users/alice 1733500000"
    };

    // What a component's files look like now, to tell whether they changed
    // without reading them.
    struct Presence {
        bool rootMissing = false;
        bool hasLayers = false;
        std::vector<std::string> fingerprint;  // one entry per scope
    };

    explicit LayerStore(const ScopeStack& stack) : mStack(stack) {}

    // The component's layers, most general first; empty when it has none.
    PAPIStatus readLayers(const std::string& component, std::vector<Layer>& layers) const;
    // Components with a layer in any scope, ascending, starting with the selector.
    PAPIStatus listComponentNames(const std::string& selector,
                                  std::vector<std::string>& names) const;
    Presence presence(const std::string& component) const;

    static std::string layerFileName(const std::string& component) { return component + ".xml"; }

  private:
    PAPIStatus readLayer(const std::string& scope, const std::string& component,
                         std::vector<Layer>& layers) const;

    const ScopeStack& mStack;
};

}  // namespace vesk::legacy::store
