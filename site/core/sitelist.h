#pragma once
// The site list behind the "Site list" dialog: reading it and deleting a
// site, without any window, so the rules are testable on their own.
#include <string>
#include <vector>

namespace fb {
class Transaction;
}

struct TSiteListRow {
    int Id = 0;
    std::string Name;
    std::string Code;  // trimmed: the column is blank-padded
    std::string Host;
};

// All sites by name, read in the given transaction.
std::vector<TSiteListRow> ReadSiteList(fb::Transaction& tr);

// Deletes the site row and commits at once, keeping the transaction open.
// Its readings go with it through the cascading reference.
void DeleteSite(fb::Transaction& tr, int siteId);

// The second, "Cancel the operation?" question for a site of that name;
// the name is inserted as it is, percent signs and all.
std::string SecondDeleteQuestion(const std::string& name);
