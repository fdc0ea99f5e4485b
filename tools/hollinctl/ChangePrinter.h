// The node listener of "hollinctl watch": writes one line per notification to
// a stream and flushes it at once, so a pipe sees each change as it happens.
//
//   ChangePrinter printer(stdout, OutputFormat::Json);
//   access.addListener(rootOfComponent, &printer);   // lines come on the service's thread
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "CommandLine.h"
#include "LayerInfo.h"
#include "change/INodeListener.h"

namespace vesk::legacy::hollinctl {

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

  private:
    void print(const char* event, const NodePath& path);

    std::FILE* mStream;
    OutputFormat mFormat;
    std::mutex mMutex;
};

}  // namespace vesk::legacy::hollinctl
