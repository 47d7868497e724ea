// The browse position of one server object and the listings at it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "server/AddressSpace.h"
#include "server/EnumString.h"

namespace tagwell::server {

// Whether name matches pattern: '*' stands for any run of characters, '?'
// for one character, everything else for itself (case-sensitive). An empty
// pattern matches everything.
bool MatchesFilter(std::string_view name, std::string_view pattern);

struct BrowseFilter {
  std::string pattern;                    // MatchesFilter
  com::VARTYPE dataType = com::VT_EMPTY;  // leaves that can be served as this type
  com::DWORD accessRights = 0;            // leaves that have all these rights
};

// Not thread-safe: the owning server object serialises calls.
class Browser final {
 public:
  // flatListsBranches makes an OPC_FLAT listing name the branches below the
  // position too (fully qualified, each before its contents), as some
  // servers do; by default it lists only item IDs.
  Browser(std::shared_ptr<AddressSpace> space, bool flatListsBranches);

  com::OPCNAMESPACETYPE Organization() const;
  // UP: to the parent, E_FAIL at the root. DOWN: into a branch named at the
  // position. TO: "" is the root; otherwise a branch named at the position,
  // or else a fully qualified branch path. E_INVALIDARG when there is no such
  // branch or direction.
  com::HRESULT Change(com::OPCBROWSEDIRECTION direction, std::string_view name);
  // OPC_BRANCH and OPC_LEAF: names at the position; OPC_FLAT: item IDs at and
  // below it. S_OK with names, S_FALSE with none, E_INVALIDARG for another type.
  com::HRESULT List(com::OPCBROWSETYPE type, const BrowseFilter& filter, NameList* names) const;
  // The fully qualified ID of a leaf or branch named at the position, or of
  // an item given by its ID; E_INVALIDARG for anything else.
  com::HRESULT ItemId(std::string_view name, std::string* id) const;

 private:
  std::string LeafName(const Item& item) const;
  bool Accepts(const Item& item, const BrowseFilter& filter) const;
  void ListFlat(const Branch& branch, const BrowseFilter& filter, NameList* names) const;
  const Branch* ChildBranch(std::string_view name) const;

  std::shared_ptr<AddressSpace> space_;
  bool flatListsBranches_;
  const Branch* position_;
};

}  // namespace tagwell::server
