#include "Usage.h"

#include <algorithm>
#include <vector>

#include "LdifExport.h"
#include "PolicyStore.h"

namespace vesk::legacy::hollinctl {

namespace {

const char kEntityOption[] =
    "  --entity CONNECTION  whose policy: a connection string (default \"\", the\n"
    "                       current user; for example kiosk.default)\n"
    "  --user NAME, --groups A,B, --host NAME\n"
    "                       planning (list, layers, dump, get): the stack of any\n"
    "                       user, groups and host (default: the user's groups here,\n"
    "                       this host), read from the store's files\n";

const char kListHelp[] =
    "Usage: hollinctl list [PREFIX] [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Lists the components that have policy for the entity, one a line, in byte\n"
    "order; with PREFIX only those whose name starts with it.\n"
    "\n"
    "  --format=json        {\"entity\": ..., \"store\": ..., \"components\": [...]}\n";

const char kListStatus[] = "\nExit status 1 when no component has policy.\n";

const char kLayersHelp[] =
    "Usage: hollinctl layers COMPONENT [--all] [--format=text|json]\n"
    "                        [--entity CONNECTION]\n"
    "\n"
    "Lists the component's layers in merge order, most general first, one a line:\n"
    "position, scope and modification time (the layer's stamp in the file store,\n"
    "as in \"users/alice 1733500000\"), size in bytes, and where the library's\n"
    "reader finds a layer broken (it stops reading that layer there). A layer of\n"
    "a file store that cannot be read is a row with the reason.\n"
    "\n"
    "  --all                every scope searched, \"no file\" where there is none\n"
    "  --format=json        {\"component\": ..., \"layers\": [{\"position\", \"stamp\",\n"
    "                       \"scope\", \"time\", \"size\", \"error\", \"problem\"},\n"
    "                       ...]}\n";

const char kLayersStatus[] =
    "\nExit status 1 when the component has no layers, 3 when a layer cannot be\n"
    "read.\n";

const char kDumpHelp[] =
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

const char kDumpStatus[] =
    "\nExit status 1 when the component has no layers or PATH names no node.\n";

const char kGetHelp[] =
    "Usage: hollinctl get COMPONENT/PATH [--locale L] [--strict] [--format=text|json]\n"
    "                     [--entity CONNECTION]\n"
    "\n"
    "Prints one property's value as programs read it: a text on one line, a list\n"
    "one item a line. Control characters and bytes that are not UTF-8 are shown\n"
    "as escapes (\\n, \\t, \\xNN); --format=json gives the exact text. A broken\n"
    "layer in the stack is a warning on standard error.\n"
    "\n"
    "  --strict             exit status 4 when a layer of the stack is broken\n"
    "  --locale L           the value for locale L (default: \"default\", the one\n"
    "                       programs read); a property that is not localised has\n"
    "                       one value for every locale\n"
    "  --format=json        {\"component\", \"path\", \"type\", \"locale\", \"value\"}\n";

const char kGetStatus[] =
    "\nExit status 1 when there is no such node, it is a group, or it has no value\n"
    "for the locale; 4 with --strict when a layer is broken.\n";

const char kWatchHelp[] =
    "Usage: hollinctl watch COMPONENT [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Prints one line per change notification, as programs receive them: the event\n"
    "(added, removed, changed) and the node's address, children before their\n"
    "parents, then the node's value now, the layer that set it and the time.\n"
    "Runs until interrupted (SIGINT or SIGTERM), then exits 0. A removed node is\n"
    "reported before and after its children.\n"
    "\n"
    "The layers are reported as events of their own, with the time: \"broken\"\n"
    "(only what comes before the error applies; also at the start), \"mended\",\n"
    "\"vanished\" (a layer file gone), \"unreadable\" (the stack cannot be read\n"
    "and programs keep their previous tree) and \"readable\" again.\n"
    "\n"
    "  --format=json        one object a line: {\"event\", \"component\", \"path\",\n"
    "                       \"names\", \"value\", \"setBy\", \"time\"}; for layers\n"
    "                       {\"event\", \"component\", \"layer\", \"line\", \"column\",\n"
    "                       \"message\", \"time\"}\n";

const char kCheckHelp[] =
    "Usage: hollinctl check FILE... [--format=text|json]\n"
    "       hollinctl check --component C --scope SCOPE FILE [--user ...]\n"
    "       hollinctl check -r [STORE]\n"
    "\n"
    "With -r, the whole store (default: the configured one): every layer as\n"
    "below, and what can never apply: folders outside default, groups, hosts,\n"
    "users and entities (group/, user/), names ending in .XML, files that are\n"
    "not regular, a host folder whose case differs from this host's name, and\n"
    "as warnings users and groups this system does not know. export-ldif runs\n"
    "it first and exports nothing from a store with a broken layer.\n"
    "\n"
    "With --component and --scope, FILE is also merged into the live stack in\n"
    "the place of SCOPE's layer (default, groups/G, hosts/H, users/U or\n"
    "entities/E): the locks it would run into, the values it would have dropped\n"
    "for their type, and the nodes it would change, as watch prints them.\n"
    "\n"
    "Reads each layer file (\"-\": standard input) with the library's reader and\n"
    "merger, as layers from the policy service are read, and reports what the\n"
    "reader ignores, defaults or refuses, and what would make it misbehave:\n"
    "  - malformed XML, with line and column: the layer stops at the error;\n"
    "  - a node element without zel:name: it is dropped with all it holds;\n"
    "  - name=, type=, op= or finalized= without the zel: prefix (ignored);\n"
    "  - blanks or line breaks around a value, which become part of it;\n"
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
    "problems or cannot be read.\n"
    "\n"
    "  --format=json        {\"files\": [{\"file\", \"error\" (why it cannot be\n"
    "                       read, or null), \"findings\": [{\"line\", \"column\",\n"
    "                       \"message\"}]}]}\n";

const char kEditHelp[] =
    "Usage: hollinctl set --scope SCOPE COMPONENT/PATH VALUE [--type T] [--lock]\n"
    "       hollinctl unset --scope SCOPE COMPONENT/PATH\n"
    "       hollinctl lock --scope SCOPE COMPONENT/PATH [--create]\n"
    "       hollinctl unlock --scope SCOPE COMPONENT/PATH\n"
    "       [--user NAME] [--groups A,B] [--host NAME] [--force] [--create-scope]\n"
    "\n"
    "Edits the layer of COMPONENT in SCOPE (default, groups/G, hosts/H, users/U\n"
    "or entities/E), making it and its folder if need be:\n"
    "  set     gives the property one value; its type is the one the property\n"
    "          has in the stack unless --type says otherwise; --lock locks it\n"
    "  unset   drops this layer's element for the node, so earlier layers apply,\n"
    "          and the groups around it that it leaves empty\n"
    "  lock    adds zel:finalized=\"true\" to the node's element; a node no layer\n"
    "          up to the scope has is refused (did you mean ...?) unless --create\n"
    "  unlock  drops it\n"
    "Everything else in the layer stays as written. The result is checked as\n"
    "check does, and written only when it has no problem the layer did not\n"
    "have before, atomically: programs see the old layer or the new one. Edits\n"
    "of one scope at once wait for each other; new folders are 0755 and new\n"
    "layers 0644 whatever the umask. The layers before the scope (of the stack\n"
    "--user/--groups/--host name, else default/) are merged first: a value an\n"
    "earlier lock refuses or of the wrong kind is not written unless --force.\n"
    "In a directory (VESK_POLICY_STORE=ldap://...) the layer is the entry\n"
    "cn=COMPONENT below the scope's entry, which must exist (--create-scope\n"
    "adds it); the edit is one modify (or one add of a new layer), bound as\n"
    "libvesk binds (VESK_LDAP_BINDDN and VESK_LDAP_PASSWORD_FILE, or SASL\n"
    "EXTERNAL over ldapi://), so the account needs write access to the policy.\n"
    "\n"
    "Exit status 1 when there is nothing to unset or unlock, the result has\n"
    "problems or would not apply, or the scope has no entry in the directory,\n"
    "3 when the layer cannot be read or written (the server's reason is given).\n";

std::string withEntity(const char* help, const char* status) {
    return std::string(help) + kEntityOption + status;
}

}  // namespace

const char kExplainHelp[] =
    "Usage: hollinctl explain COMPONENT/PATH [--format=text|json] [--entity CONNECTION]\n"
    "\n"
    "Every layer of the stack with the value it tried to give the node, whether\n"
    "it locks the node, and what became of the value: applied, refused (locked by\n"
    "an earlier layer, named), ignored (a value of the other kind), replaced or\n"
    "removed by a later layer, or unchanged (the value was there already).\n";

const char kExportHelp[] =
    "Usage: hollinctl export FOLDER\n"
    "\n"
    "Writes every layer entry of the policy directory (VESK_POLICY_STORE=ldap://...)\n"
    "into FOLDER, new or empty, as a store folder: the inverse of export-ldif.\n"
    "\n"
    "Exit status 1 when an entry in no layer's place was left out (named).\n";

const char kCacheHelp[] =
    "Usage: HOLLIN_CACHE_DIR=FOLDER hollinctl cache refresh --user NAME [COMPONENT...]\n"
    "       hollinctl cache show [--user NAME] [COMPONENT...] [--format=text|json]\n"
    "\n"
    "show: what each kept copy holds, for whom, from which layers and when it was\n"
    "written (in HOLLIN_CACHE_DIR, else the user's cache folder); exit status 1\n"
    "when there is none.\n"
    "\n"
    "refresh: "
    "run as root: reads the user's policy of every component (or those named) and\n"
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
               "  set --scope SCOPE COMPONENT/PATH VALUE [--type T] [--lock]\n"
               "                         write a value into the scope's layer\n"
               "  unset|lock|unlock --scope SCOPE COMPONENT/PATH\n"
               "                         drop, lock or unlock the scope's setting\n"
               "  explain COMPONENT/PATH each layer's value for the node, and what became\n"
               "                         of it: applied, refused (by whose lock), ignored\n"
               "  help [COMMAND]         this help, or a command's\n"
               "  export-ldif STORE_DIR BASE_DN  the LDIF that loads a file store into a\n"
               "                         directory, for ldapadd\n"
               "  export FOLDER          a policy directory written as a store folder\n"
               "  cache show [COMPONENT...]  what the kept copies hold\n"
               "  cache refresh --user NAME [COMPONENT...]  as root: keep the user's\n"
               "                         policy in $HOLLIN_CACHE_DIR for logins without store\n"
               "\n"
               "Options (before or after the command):\n") +
           kEntityOption +
           "  --format=FORMAT      text (default), json, or for dump xml or layer\n"
           "  --locale L           get: the value for locale L\n"
           "  --store STORE        the policy store (a folder or an ldap:// URL), in\n"
           "                       place of $VESK_POLICY_STORE\n"
           "  --strict             get, dump, layers: exit status 4 for a broken layer\n"
           "  -h, --help           this help, or a command's: hollinctl dump --help\n"
           "  --version            the version of hollinctl (alone)\n"
           "\n"
           "Policy is read from the store $VESK_POLICY_STORE, or else " +
           PolicyStore::defaultStorePath() +
           ".\n"
           "\n"
           "Exit status: 0 success, 1 not found (check: problems found), 2 usage error,\n"
           "3 the policy service or the output failed, 4 (--strict) a broken layer.\n";
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
    if (command == "explain") {
        return withEntity(kExplainHelp, "\nExit status 1 when no layer has the node.\n");
    }
    if (command == "export") {
        return kExportHelp;
    }
    if (command == "cache") {
        return kCacheHelp;
    }
    if (command == "set" || command == "unset" || command == "lock" || command == "unlock") {
        return kEditHelp;
    }
    return std::string();
}

std::string suggestCommand(const std::string& command) {
    static const char* const kCommands[] = {"list",  "layers", "dump",        "get",     "watch",
                                            "check", "set",    "unset",       "lock",    "unlock",
                                            "cache", "help",   "export-ldif", "explain", "export"};
    // Edit distance, with a swap of neighbours as one edit ("dupm").
    auto distance = [](const std::string& a, const std::string& b) {
        std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
        for (size_t i = 0; i <= a.size(); ++i) {
            d[i][0] = i;
        }
        for (size_t j = 0; j <= b.size(); ++j) {
            d[0][j] = j;
        }
        for (size_t i = 1; i <= a.size(); ++i) {
            for (size_t j = 1; j <= b.size(); ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                    d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
                }
            }
        }
        return d[a.size()][b.size()];
    };
    if (command.size() > 32) {
        return "";
    }
    const char* best = nullptr;
    size_t bestDistance = 3;
    for (const char* known : kCommands) {
        const size_t found = distance(command, known);
        if (found < bestDistance) {
            best = known;
            bestDistance = found;
        }
    }
    return best != nullptr ? std::string(" (did you mean ") + best + "?)" : "";
}

}  // namespace vesk::legacy::hollinctl
