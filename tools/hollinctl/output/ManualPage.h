// SPDX-License-Identifier: LGPL-2.1-or-later
// The part of hollinctl(1) made from the command table: the sections
// COMMANDS, OPTIONS and EXIT STATUS in scdoc, between two comment lines of
// docs/hollinctl.1.scd; the rest of the page is written by hand.
//
//   std::string page = ManualPage::spliced(readFile("docs/hollinctl.1.scd"));
#pragma once

#include <string>

namespace vesk::legacy::hollinctl {

class ManualPage {
  public:
    static const char kBegin[];
    static const char kEnd[];

    // The sections, from kBegin to kEnd and its line end.
    static std::string generated();
    // The page with its part between the markers made anew; the page as it is
    // when it has no markers.
    static std::string spliced(const std::string& page);
};

}  // namespace vesk::legacy::hollinctl
