// The scope folders libvesk searches for an entity, most general first, worked
// out here as the library does, so that hollinctl can show the scopes without
// a layer and read a stack with an unreadable layer one layer at a time.
//
//   ScopePlan plan = ScopePlan::forEntity("");   // the current user
//   for (const std::string& scope : plan.scopes()) ...   // "default", "groups/adm", ...
#pragma once

#include <string>
#include <vector>

namespace vesk::legacy::hollinctl {

class ScopePlan {
  public:
    // "" is the user of the process's uid with its groups and this host;
    // any other text an entity of its own.
    static ScopePlan forEntity(const std::string& entity);

    const std::vector<std::string>& scopes() const { return mScopes; }

  private:
    std::vector<std::string> mScopes;
};

}  // namespace vesk::legacy::hollinctl
