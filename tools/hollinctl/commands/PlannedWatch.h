// SPDX-License-Identifier: LGPL-2.1-or-later
// The node side of "hollinctl watch" for a planned stack (--user, --groups,
// --host): libvesk watches only the caller's own scopes, so this watches the
// planned scopes' folders of the file store itself, merges the layers anew
// after each change as a program of that user would, and reports the
// difference to the printer as the service reports changes to listeners.
// The layer events are LayerWatch's, which it asks to look again.
//
//   PlannedWatch planned(store, "com.example", printer, layerWatch);
//   planned.start();     // a thread of its own until destroyed
#pragma once

#include <memory>
#include <string>
#include <thread>

namespace vesk::legacy {
class Tree;
}

namespace vesk::legacy::hollinctl {

class ChangePrinter;
class LayerWatch;
class PolicyStore;

class PlannedWatch {
  public:
    // Nothing is owned; all must outlive the watch.
    PlannedWatch(const PolicyStore& store, const std::string& component, ChangePrinter& printer,
                 LayerWatch& layers);
    ~PlannedWatch();
    PlannedWatch(const PlannedWatch&) = delete;
    PlannedWatch& operator=(const PlannedWatch&) = delete;

    // Takes the tree of now and watches from then on; kServiceError when the
    // folders cannot be watched.
    void start();

  private:
    void run();
    // Watches the scope folders there are now and the folders they would
    // appear in.
    void watchFolders();
    // Merges again and reports what changed since the last merge.
    void examine();

    const PolicyStore& mStore;
    std::string mComponent;
    ChangePrinter& mPrinter;
    LayerWatch& mLayers;
    std::unique_ptr<Tree> mTree;
    int mInotify = -1;
    int mStop = -1;
    std::thread mThread;
};

}  // namespace vesk::legacy::hollinctl
