// SPDX-License-Identifier: LGPL-2.1-or-later
// The node listener of "hollinctl watch": writes one line per notification to
// a stream and flushes it at once, so a pipe sees each change as it happens.
//
//   ChangePrinter printer(stdout, OutputFormat::Json);
//   access.addListener(rootOfComponent, &printer);   // lines come on the service's thread
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "LayerInfo.h"
#include "change/INodeListener.h"

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::hollinctl {

class PolicyStore;
class Provenance;

class ChangePrinter : public INodeListener {
  public:
    // The stream is not owned. Text or JSON (one object a line).
    ChangePrinter(std::FILE* stream, OutputFormat format);

    void onNodeAdded(const NodePath& path) override;
    void onNodeRemoved(const NodePath& path) override;
    void onNodeChanged(const NodePath& path) override;

    // The line for one notification, with its line end.
    std::string line(const char* event, const NodePath& path) const;
    // A line about a layer rather than a node ("broken", "mended", "vanished",
    // "unreadable", "readable"): what happened, in words, and when.
    std::string layerLine(const char* event, const std::string& component, const LayerInfo* layer,
                          const std::string& text, long long time) const;
    // Writes a line made above and flushes it.
    void print(const std::string& line);
    // Called once, on the thread that writes, when a line cannot be written
    // (a closed pipe, a full disk); nothing is written after that.
    void onFailure(std::function<void()> callback);
    // The errno of that failure, 0 while every line was written.
    int failure();
    // From now on each node line also says what the node holds now and which
    // layer set it, read from the store (which must outlive the printer's use).
    void describeWith(const PolicyStore* store);

  private:
    void print(const char* event, const NodePath& path);
    // Writes and flushes the text; the mutex is held.
    void emit(const std::string& text);
    // The node as it is now in the merged layers (null when gone), and the
    // layer that set it (null when unknown).
    const Node* current(const NodePath& path, const LayerInfo*& setBy);

    std::FILE* mStream;
    OutputFormat mFormat;
    std::mutex mMutex;
    std::function<void()> mOnFailure;
    int mFailure = 0;
    const PolicyStore* mStore = nullptr;
    // The merge the last node line was described from, and the layers' bytes
    // it was made of: one change event reads the layers once per node, but
    // merges them once.
    std::string mMergedFrom;
    std::unique_ptr<Provenance> mMerged;
    std::vector<LayerInfo> mLayers;
};

}  // namespace vesk::legacy::hollinctl
