// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DumpCommand.h"

#include <memory>

#include "CommandIo.h"
#include "CommandLine.h"
#include "DidYouMean.h"
#include "DumpWriter.h"
#include "ExitStatus.h"
#include "LayerWriter.h"
#include "NodeLookup.h"
#include "PlanOptions.h"
#include "PolicyStore.h"
#include "Provenance.h"
#include "TextEscape.h"
#include "TreeFileText.h"
#include "model/NodePath.h"
#include "model/StructuralNode.h"
#include "model/Tree.h"
#include "policy/PapiLayer.h"
#include "policy/PolicyLayer.h"

namespace vesk::legacy::hollinctl {

const char DumpCommand::kHelp[] =
    "Usage: hollinctl dump COMPONENT [PATH] [--removed] [--format=FORMAT]\n"
    "                      [--entity CONNECTION]\n"
    "\n"
    "Shows the component's effective tree, merged from its layers as programs see\n"
    "it, or the subtree at PATH (names below the root: launcher_list/terminal).\n"
    "Each node comes with its path, type and values per locale, and the reasons:\n"
    "\n"
    "  SET BY     the last layer that created the node or changed its value; a\n"
    "             layer that writes the value the node already has does not count\n"
    "  LOCKED BY  the layer that finalised the node (zel:finalized=\"true\" on it or\n"
    "             on a group above it); later layers can neither change, replace\n"
    "             nor remove it, but may add children to a locked group\n"
    "  refused:   the later layers whose changes to the locked node were refused\n"
    "  ignored:   the later layers whose values were dropped because their type\n"
    "             is of the other kind (a text on a list, a list on a text)\n"
    "\n"
    "Layers are numbered from 1, most general first, and named by their scope\n"
    "(see hollinctl layers). The reasons are worked out with the library's merger:\n"
    "the tree after k layers is compared with the tree after k-1.\n"
    "\n"
    "A lock also holds against the groups above it: a later layer that removes or\n"
    "replaces an unlocked group above a locked node drops the rest of that group,\n"
    "and the locked node stays.\n"
    "\n"
    "  --removed            also the nodes a later layer removed, as \"removed by\"\n"
    "                       lines (\"removed\" in JSON: \"path\", \"removedBy\")\n"
    "  --format=json        one document: \"layers\", and \"nodes\" with \"path\",\n"
    "                       \"names\", \"kind\", \"type\", \"values\" (by locale),\n"
    "                       \"setBy\", \"lock\" (\"read-only\": locked by an earlier\n"
    "                       layer, \"finalised\": by the last), \"lockedBy\",\n"
    "                       \"refusedFrom\", \"ignored\" ([{\"layer\", \"reason\"}])\n"
    "  --format=layer       the tree as one layer: placed alone in default/, it\n"
    "                       merges into the same tree, locks included (no PATH)\n"
    "  --format=xml         the tree in the library's tree file format\n"
    "                       (Tree::serialize; Tree::unserialize reads it back),\n"
    "                       without reasons\n";

int DumpCommand::run(const CommandLine& line, CommandIo& io) {
    line.expectArguments(1, 2);
    const std::string& component = line.getArguments()[0];
    const std::string path = line.getArguments().size() > 1 ? line.getArguments()[1] : "";
    const PolicyStore store(PlanOptions::plan(line));
    std::shared_ptr<const Tree> keptCopy;
    if (!store.plan().isPlanned()) {
        keptCopy = io.noteServed(component, line.getEntity());
    }
    std::vector<PolicyLayer> layers = PlanOptions::readExisting(store, component);
    const std::vector<LayerInfo> read = describeLayers(layers);
    if (keptCopy) {
        // What programs apply: the copy, shown as the one layer it stands for.
        std::vector<std::string> lockedToo;
        const std::string text = LayerWriter::write(component, keptCopy->getRoot(), lockedToo);
        NodePath componentPath;
        componentPath.setPath(component);
        layers = {PolicyLayer(componentPath,
                              PapiLayer(text.data(), static_cast<int>(text.size()), "kept copy"))};
    }

    const Provenance provenance(layers);
    const NodeLookup::Names names = NodeLookup::namesOf(path);
    Node* node = StructuralNode::findPath(provenance.getRoot(), names);
    if (node == nullptr && !names.empty()) {
        throw CommandError(kNotFound, "no node " + quotedText(path) +
                                          DidYouMean::forPath(provenance.getRoot(), names) +
                                          " in component " + quotedText(component) +
                                          PlanOptions::where(store.plan()));
    }
    if (line.getFormat() == OutputFormat::Layer) {
        if (!names.empty()) {
            throw CommandError(kUsage, "dump --format=layer writes the whole component: no PATH");
        }
        std::vector<std::string> lockedToo;
        io.write(LayerWriter::write(component, node, lockedToo));
        for (const std::string& path : lockedToo) {
            io.complain("warning: " + printable(path) +
                        " was added below a lock by a later layer; in one layer it is locked too");
        }
        return io.reportBroken(line, read, keptCopy != nullptr);
    }
    if (line.getFormat() == OutputFormat::Xml) {
        io.write(TreeFileText::of(node));
        return io.reportBroken(line, read, keptCopy != nullptr);
    }
    // Each layer is read once for its verdict: again only for the copy.
    const std::vector<LayerInfo> infos = keptCopy ? describeLayers(layers) : read;
    const int status = io.reportBroken(line, read, keptCopy != nullptr);
    DumpWriter writer(component, store.plan(), infos, provenance);
    if (node != nullptr) {
        writer.collect(*node, names);
    }
    if (line.isRemovedRequested()) {
        writer.collectRemoved(names);
    }
    io.write(line.getFormat() == OutputFormat::Json ? writer.json() : writer.text());
    return status;
}

}  // namespace vesk::legacy::hollinctl
