// SPDX-License-Identifier: LGPL-2.1-or-later
// Finds what would make a layer file misbehave before it is deployed, from
// the library's own reader and merger: malformed XML (with line and column),
// and everything the reader reports it ignores, defaults or refuses (a node
// without zel:name, unknown types, operations, elements and attributes, two
// values for one locale, content of removals, blanks around a value), plus
// finalisations that protect nothing once the layer is merged.
//
//   LayerChecker checker(text, LayerChecker::isMergedLast(fileName));
//   for (const LayerChecker::Finding& f : checker.check()) print(f.line, f.message);
#pragma once

#include <string>
#include <vector>

#include "layers/ILayerDiagnostics.h"

namespace vesk::legacy::hollinctl {

class LayerChecker : public ILayerDiagnostics {
  public:
    struct Finding {
        int line;
        int column;  // 0 when only the line is known
        std::string message;
    };

    // mergedLast: the file belongs to a scope merged after every other one,
    // so no layer follows it for a finalisation to protect against.
    LayerChecker(std::string text, bool mergedLast);

    // Every finding, in order of line, with untrusted text escaped.
    std::vector<Finding> check();

    // Whether the file lies in a scope of the file store that is always merged
    // last: users/<user>/ or entities/<entity>/.
    static bool isMergedLast(const std::string& fileName);

    void onFinding(int line, int column, const std::string& message) override;
    void onFinalisation(const std::vector<std::string>& names, const std::string& what,
                        int line) override;

  private:
    struct Finalisation {
        std::vector<std::string> names;
        std::string what;
        int line;
    };

    std::string mText;
    bool mMergedLast;
    std::vector<Finding> mFindings;
    std::vector<Finalisation> mFinalisations;
};

}  // namespace vesk::legacy::hollinctl
