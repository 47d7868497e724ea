#include "server/Browser.h"

namespace tagwell::server {

bool MatchesFilter(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return true;
  // Iterative wildcard match with one back-tracking point for the last '*'.
  std::size_t n = 0, p = 0;
  std::size_t starAt = std::string_view::npos, matchedAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      matchedAt = n;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      n = ++matchedAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Browser::Browser(std::shared_ptr<AddressSpace> space, bool flatListsBranches)
    : space_(std::move(space)), flatListsBranches_(flatListsBranches), position_(&space_->Root()) {}

com::OPCNAMESPACETYPE Browser::Organization() const {
  return space_->Flat() ? com::OPC_NS_FLAT : com::OPC_NS_HIERARCHIAL;
}

const Branch* Browser::ChildBranch(std::string_view name) const {
  for (const auto& branch : position_->branches)
    if (branch->name == name) return branch.get();
  return nullptr;
}

com::HRESULT Browser::Change(com::OPCBROWSEDIRECTION direction, std::string_view name) {
  switch (direction) {
    case com::OPC_BROWSE_UP:
      if (!position_->parent) return com::E_FAIL;
      position_ = position_->parent;
      return com::S_OK;
    case com::OPC_BROWSE_DOWN:
      if (const Branch* child = ChildBranch(name)) {
        position_ = child;
        return com::S_OK;
      }
      return com::E_INVALIDARG;
    case com::OPC_BROWSE_TO: {
      const Branch* target = name.empty() ? &space_->Root() : ChildBranch(name);
      if (!target) target = space_->FindBranch(name);
      if (!target) return com::E_INVALIDARG;
      position_ = target;
      return com::S_OK;
    }
  }
  return com::E_INVALIDARG;
}

std::string Browser::LeafName(const Item& item) const {
  // In a flat space every item sits at the root under its full ID.
  return space_->Flat() ? item.id : item.definition.name;
}

bool Browser::Accepts(const Item& item, const BrowseFilter& filter) const {
  if ((item.definition.accessRights & filter.accessRights) != filter.accessRights) return false;
  return filter.dataType == com::VT_EMPTY ||
         space_->CheckRequestedType(item, filter.dataType) == com::S_OK;
}

void Browser::ListFlat(const Branch& branch, const BrowseFilter& filter, NameList* names) const {
  for (const Item* item : branch.items)
    if (MatchesFilter(item->id, filter.pattern) && Accepts(*item, filter))
      names->push_back(item->id);
  for (const auto& sub : branch.branches) {
    if (flatListsBranches_ && MatchesFilter(sub->path, filter.pattern)) names->push_back(sub->path);
    ListFlat(*sub, filter, names);
  }
}

com::HRESULT Browser::List(com::OPCBROWSETYPE type, const BrowseFilter& filter,
                           NameList* names) const {
  names->clear();
  switch (type) {
    case com::OPC_BRANCH:
      for (const auto& branch : position_->branches)
        if (MatchesFilter(branch->name, filter.pattern)) names->push_back(branch->name);
      break;
    case com::OPC_LEAF:
      for (const Item* item : position_->items) {
        std::string name = LeafName(*item);
        if (MatchesFilter(name, filter.pattern) && Accepts(*item, filter))
          names->push_back(std::move(name));
      }
      break;
    case com::OPC_FLAT:
      ListFlat(*position_, filter, names);
      break;
    default:
      return com::E_INVALIDARG;
  }
  return names->empty() ? com::S_FALSE : com::S_OK;
}

com::HRESULT Browser::ItemId(std::string_view name, std::string* id) const {
  for (const Item* item : position_->items) {
    if (LeafName(*item) == name) {
      *id = item->id;
      return com::S_OK;
    }
  }
  if (const Branch* child = ChildBranch(name)) {
    *id = child->path;
    return com::S_OK;
  }
  if (!name.empty() && space_->FindItem(name)) {
    *id = std::string(name);
    return com::S_OK;
  }
  return com::E_INVALIDARG;
}

}  // namespace tagwell::server
