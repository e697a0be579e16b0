#pragma once
// What a station does over the Internet by itself, said where an owner
// without a screen looks (kalosqm-cli site add, the service's start): the
// delivered database has Internet time and automatic upload on.
#include <string>
#include <vector>

namespace fb {
class Database;
}

// One line for Internet time and one for the upload, each only when it is
// on, naming the time servers and the command that changes it. Throws fb::Error.
std::vector<std::string> OutreachLines(fb::Database& db);
