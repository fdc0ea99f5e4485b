#include "Usage.h"

#include "LdifExport.h"
#include "PolicyStore.h"

namespace vesk::legacy::hollinctl {

namespace {

const char kEntityOption[] =
    "  --entity CONNECTION  whose policy: a connection string (default \"\", the\n"
    "                       current user; for example kiosk.default)\n";

const char kListHelp[] =
    "Usage: hollinctl list [PREFIX] [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Lists the components that have policy for the entity, one a line, in byte\n"
    "order; with PREFIX only those whose name starts with it.\n"
    "\n"
    "  --format=json        {\"entity\": ..., \"store\": ..., \"components\": [...]}\n";

const char kListStatus[] = "\nExit status 1 when no component has policy.\n";

const char kLayersHelp[] =
    "Usage: hollinctl layers COMPONENT [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Lists the component's layers in merge order, most general first, one a line:\n"
    "position, scope and modification time (the layer's stamp in the file store,\n"
    "as in \"users/alice 1733500000\"), size in bytes, and where the library's\n"
    "reader finds a layer broken (it stops reading that layer there).\n"
    "\n"
    "  --format=json        {\"component\": ..., \"layers\": [{\"position\", \"stamp\",\n"
    "                       \"scope\", \"time\", \"size\", \"error\"}, ...]}\n";

const char kLayersStatus[] = "\nExit status 1 when the component has no layers.\n";

const char kDumpHelp[] =
    "Usage: hollinctl dump COMPONENT [PATH] [--format=text|json|xml]\n"
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
    "\n"
    "Layers are numbered from 1, most general first, and named by their scope\n"
    "(see hollinctl layers). The reasons are worked out with the library's merger:\n"
    "the tree after k layers is compared with the tree after k-1.\n"
    "\n"
    "A lock also holds against the groups above it: a later layer that removes or\n"
    "replaces an unlocked group above a locked node drops the rest of that group,\n"
    "and the locked node stays.\n"
    "\n"
    "  --format=json        one document: \"layers\", and \"nodes\" with \"path\",\n"
    "                       \"names\", \"kind\", \"type\", \"values\" (by locale),\n"
    "                       \"setBy\", \"lock\" (\"read-only\": locked by an earlier\n"
    "                       layer, \"finalised\": by the last), \"lockedBy\",\n"
    "                       \"refusedFrom\"\n"
    "  --format=xml         the tree in the library's tree file format\n"
    "                       (Tree::serialize; Tree::unserialize reads it back),\n"
    "                       without reasons\n";

const char kDumpStatus[] =
    "\nExit status 1 when the component has no layers or PATH names no node.\n";

const char kGetHelp[] =
    "Usage: hollinctl get COMPONENT/PATH [--locale L] [--format=text|json]\n"
    "                     [--entity CONNECTION]\n"
    "\n"
    "Prints one property's value as programs read it: a text on one line, a list\n"
    "one item a line. Control characters and bytes that are not UTF-8 are shown\n"
    "as escapes (\\n, \\t, \\xNN); --format=json gives the exact text.\n"
    "\n"
    "  --locale L           the value for locale L (default: \"default\", the one\n"
    "                       programs read); a property that is not localised has\n"
    "                       one value for every locale\n"
    "  --format=json        {\"component\", \"path\", \"type\", \"locale\", \"value\"}\n";

const char kGetStatus[] =
    "\nExit status 1 when there is no such node, it is a group, or it has no value\n"
    "for the locale.\n";

const char kWatchHelp[] =
    "Usage: hollinctl watch COMPONENT [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Prints one line per change notification, as programs receive them: the event\n"
    "(added, removed, changed) and the node's address, children before their\n"
    "parents. Runs until interrupted (SIGINT or SIGTERM), then exits 0. A layer\n"
    "that cannot be read keeps the previous tree and gives no notification; a\n"
    "malformed layer applies what comes before its error, which is reported.\n"
    "A removed node is reported before and after its children.\n"
    "\n"
    "  --format=json        one object a line: {\"event\", \"component\", \"path\",\n"
    "                       \"names\"}\n";

const char kCheckHelp[] =
    "Usage: hollinctl check FILE...\n"
    "\n"
    "Reads each layer file with the library's reader and merger, as layers from\n"
    "the policy service are read, and reports what would make it misbehave:\n"
    "  - malformed XML, with line and column: the layer stops at the error;\n"
    "  - a node element without zel:name: it is dropped with all it holds;\n"
    "  - an unknown zel:type (read as xs:string) or zel:op (read as modify);\n"
    "  - an unknown element or zel: attribute (ignored), such as zel:finalised,\n"
    "    which only tree files use;\n"
    "  - two values for the same locale in one property (the last one counts;\n"
    "    a value without xml:lang is for the locale \"default\");\n"
    "  - content of a removed node, and nodes inside a property (ignored);\n"
    "  - a finalisation with no effect.\n"
    "\n"
    "A finalisation (zel:finalized=\"true\") takes effect when the next layer\n"
    "starts: from then on the merger refuses to change, replace or remove the\n"
    "node. It therefore has no effect when\n"
    "  - its value is anything but \"true\" (True, 1 or yes finalise nothing);\n"
    "  - its element removes the node, or lies where the merger ignores it;\n"
    "  - a later element of the same file replaces or removes the node or a node\n"
    "    above it, which builds it anew without the finalisation (the file is\n"
    "    merged on its own to find this);\n"
    "  - the file lies in a scope that is merged last, users/USER/ or\n"
    "    entities/ENTITY/ of the store: no later layer is there to keep out.\n"
    "A finalisation that a finalised group above it already covers is harmless\n"
    "and not reported.\n"
    "\n"
    "Problems are printed as FILE:LINE[:COLUMN]: message, a clean file as\n"
    "FILE: ok. Exit status 0 when every file is clean, 1 when a file has\n"
    "problems or cannot be read.\n";

std::string withEntity(const char* help, const char* status) {
    return std::string(help) + kEntityOption + status;
}

}  // namespace

const char kCacheHelp[] =
    "Usage: HOLLIN_CACHE_DIR=FOLDER hollinctl cache refresh --user NAME [COMPONENT...]\n"
    "\n"
    "Run as root: reads the user's policy of every component (or those named) and\n"
    "keeps each one that reads in full in FOLDER, owned by root and readable by the\n"
    "user's primary group. Programs of the user started with the same\n"
    "HOLLIN_CACHE_DIR serve these copies when the store cannot be read in full at\n"
    "start, and the user cannot change them. Run it from a timer or at login.\n"
    "\n"
    "Exit status 0 when every component was kept, 2 usage error, 3 when one could\n"
    "not be read in full (its previous copy stays).\n";

std::string toolHelp() {
    return std::string(
               "Usage: hollinctl COMMAND [ARGUMENTS] [OPTIONS]\n"
               "\n"
               "Shows the desktop policy that applies, layer by layer, and why.\n"
               "\n"
               "Commands:\n"
               "  list [PREFIX]          the components that have policy\n"
               "  layers COMPONENT       a component's layers in merge order\n"
               "  dump COMPONENT [PATH]  the effective tree, with the layer that set and\n"
               "                         the layer that locked each node\n"
               "  get COMPONENT/PATH     one property's value\n"
               "  watch COMPONENT        one line per change, until interrupted\n"
               "  check FILE...          problems in layer files, before deploying them\n"
               "  export-ldif STORE_DIR BASE_DN  the LDIF that loads a file store into a\n"
               "                         directory, for ldapadd\n"
               "  cache refresh --user NAME [COMPONENT...]  as root: keep the user's\n"
               "                         policy in $HOLLIN_CACHE_DIR for logins without store\n"
               "\n"
               "Options (before or after the command):\n") +
           kEntityOption +
           "  --format=FORMAT      text (default), json, or for dump xml\n"
           "  --locale L           get: the value for locale L\n"
           "  -h, --help           this help, or a command's: hollinctl dump --help\n"
           "  --version            the version of hollinctl (alone)\n"
           "\n"
           "Policy is read from the store $VESK_POLICY_STORE, or else " +
           PolicyStore::defaultStorePath() +
           ".\n"
           "\n"
           "Exit status: 0 success, 1 not found (check: problems found), 2 usage error,\n"
           "3 the policy service or the output failed.\n";
}

std::string commandHelp(const std::string& command) {
    if (command == "list") {
        return withEntity(kListHelp, kListStatus);
    }
    if (command == "layers") {
        return withEntity(kLayersHelp, kLayersStatus);
    }
    if (command == "dump") {
        return withEntity(kDumpHelp, kDumpStatus);
    }
    if (command == "get") {
        return withEntity(kGetHelp, kGetStatus);
    }
    if (command == "watch") {
        return withEntity(kWatchHelp, "\nExit status 0 when interrupted.\n");
    }
    if (command == "check") {
        return kCheckHelp;
    }
    if (command == "export-ldif") {
        return LdifExport::help();
    }
    if (command == "cache") {
        return kCacheHelp;
    }
    return std::string();
}

}  // namespace vesk::legacy::hollinctl
