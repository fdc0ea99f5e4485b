// SPDX-License-Identifier: LGPL-2.1-or-later
// ITreeHandler: the events a layer is read into (the merger, the policy layer
// filter and the difference reporter implement it).
//
// One startTree, then properly nested node events, each start closed by one
// endNode (after a node or a removal) or endProperty (after a property), value
// events only between a property's start and end, last one endTree. The first
// node event of a layer addresses the component's root, whatever its name.
// Every handler treats endProperty exactly as endNode.
#pragma once

#include <string>
#include <vector>

#include "model/HollinExport.h"
#include "model/PropertyType.h"

namespace vesk::legacy {

class HOLLIN_EXPORT ITreeHandler {
  public:
    virtual void startTree() = 0;
    virtual void endTree() = 0;
    // attributes: node attribute bits; readers pass 1 (finalised) or 0.
    virtual void modifyNode(const std::string& name, int attributes) = 0;
    virtual void replaceNode(const std::string& name, int attributes) = 0;
    virtual void removeNode(const std::string& name) = 0;
    virtual void endNode() = 0;
    virtual void modifyProperty(const std::string& name, PropertyType type, int attributes) = 0;
    virtual void replaceProperty(const std::string& name, PropertyType type, int attributes) = 0;
    virtual void endProperty() = 0;
    virtual void setStringValue(const std::string& value, const std::string& locale) = 0;
    virtual void setListValue(const std::vector<std::string>& values,
                              const std::string& locale) = 0;
    virtual void addListValues(const std::vector<std::string>& values,
                               const std::string& locale) = 0;
    virtual ~ITreeHandler() = default;
};

// The declarations of every event, for a handler that implements them all
// (each one does: the events only make sense together):
//   class Counter : public ITreeHandler { public: HOLLIN_TREE_HANDLER_EVENTS ... };
#define HOLLIN_TREE_HANDLER_EVENTS                                                                 \
    void startTree() override;                                                                     \
    void endTree() override;                                                                       \
    void modifyNode(const std::string& name, int attributes) override;                             \
    void replaceNode(const std::string& name, int attributes) override;                            \
    void removeNode(const std::string& name) override;                                             \
    void endNode() override;                                                                       \
    void modifyProperty(const std::string& name, PropertyType type, int attributes) override;      \
    void replaceProperty(const std::string& name, PropertyType type, int attributes) override;     \
    void endProperty() override;                                                                   \
    void setStringValue(const std::string& value, const std::string& locale) override;             \
    void setListValue(const std::vector<std::string>& values, const std::string& locale) override; \
    void addListValues(const std::vector<std::string>& values, const std::string& locale) override;

}  // namespace vesk::legacy
