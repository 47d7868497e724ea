// XML item lists: every element named "Name" whose parent element is named
// "Item" (whole names, case-sensitive) is one entry, at any depth, in
// document order; its text, without surrounding white space, is the item ID.
// Everything else in the file is ignored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "opc/ClientState.h"

namespace tagwell {

// The item IDs of the file's entries in document order, duplicates kept;
// nullopt when the file is missing, unreadable, not well-formed or nested
// deeper than 1000 levels (*error, when given, then says why). Every element's attributes are
// traced to standard output as "\nAttribute type: attribute\n", one per attribute.
std::optional<std::vector<std::string>> ReadXmlItemList(const std::string& path,
                                                        std::string* error = nullptr);

// Adds every entry of the file at path to the group, as the Add Item command
// does after its dialog: the ID becomes a new row of the Item name column,
// then AddItem, ReadItem, ReadItemAttributes, itemsAdded += 1 and the new
// row count in the item-count box. A file that cannot be loaded, a missing
// group and a full item table are reported with a message box; an ID
// longer than szItemName holds is skipped with a log line (one message box
// counts them at the end). Entries are never cut or merged.
void LoadXMLFile(Client& client, const char* path);

}  // namespace tagwell
