// SPDX-License-Identifier: LGPL-2.1-or-later
// Sends a tree to the Logger for diagnosis, one message per node indented by
// one tab per ancestor, all at one level:
//
//   NodeLogger logger(Logger::Debug);
//   tree.getRoot()->visit(logger);
#pragma once

#include "model/HollinExport.h"
#include "model/Logger.h"
#include "model/NodeVisitor.h"

namespace vesk::legacy {

class HOLLIN_EXPORT NodeLogger : public NodeVisitor {
  public:
    explicit NodeLogger(Logger::LogLevel level) : mLevel(level) {}

    bool preChildrenProcess(Node& node) override;
    bool postChildrenProcess(Node& node) override;
    virtual ~NodeLogger() = default;

  private:
    Logger::LogLevel mLevel;
};

}  // namespace vesk::legacy
