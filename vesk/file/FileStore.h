// SPDX-License-Identifier: LGPL-2.1-or-later
// The file store: reads the layer files of one scope stack, each layer the
// file <scope>/<component>.xml taken byte for byte, and watches them.
//
//   FileStore store(std::move(stack));
//   std::vector<Backend::Layer> layers;
//   PAPIStatus status = store.readLayers("com.orvek.ferrun.applications", layers);
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "Backend.h"
#include "ScopeStack.h"
#include "papi.h"

namespace vesk::legacy::store {

class FileStore : public Backend {
  public:
    // A layer larger than this is refused rather than read into memory.
    static constexpr off_t kMaxLayerSize = 64 * 1024 * 1024;

    explicit FileStore(std::unique_ptr<ScopeStack> stack) : mStack(std::move(stack)) {}

    PAPIStatus readLayers(const std::string& component, std::vector<Layer>& layers) override;
    PAPIStatus listComponentNames(const std::string& selector,
                                  std::vector<std::string>& names) override;
    Presence presence(const std::string& component) override;
    std::unique_ptr<ChangeSource> makeChangeSource() override;
    // A rewrite within the file system's time resolution keeps size and times.
    bool exactFingerprints() const override { return false; }
    std::chrono::milliseconds removalSettling() const override {
        return std::chrono::milliseconds(2000);
    }

    static std::string layerFileName(const std::string& component) { return component + ".xml"; }

  private:
    PAPIStatus readLayer(const std::string& scope, const std::string& component,
                         std::vector<Layer>& layers) const;

    std::unique_ptr<ScopeStack> mStack;
};

}  // namespace vesk::legacy::store
