#pragma once
// Brings a local database made by an earlier delivered schema up to the
// current one when a program opens it, keeping every reading. The desktop
// program and the station service both open the file through TData.
#include <functional>
#include <stdexcept>
#include <string>

namespace fb {
class Database;
}

// The SET_DBVERSION of the delivered database (db/schema.sql).
inline constexpr const char* kSchemaVersion = "1.3";

// One step of an upgrade: Done steps of Total, What starts now. Index
// builds run at the last step, the commit, and take the longest.
struct TUpgradeStep {
    int Done = 0;
    int Total = 0;
    std::string What;
};
// May throw to stop the upgrade: the file stays as it was.
using TUpgradeProgress = std::function<void(const TUpgradeStep&)>;

class TUpgradeError : public std::runtime_error {
public:
    TUpgradeError(std::string from, std::string to, const std::string& detail)
        : std::runtime_error(detail), from_(std::move(from)), to_(std::move(to)) {}
    const std::string& From() const { return from_; }
    const std::string& To() const { return to_; }

private:
    std::string from_, to_;
};

// SET_DBVERSION of SETTINGS row 1, trimmed; empty when null. Throws fb::Error.
std::string DatabaseSchemaVersion(fb::Database& db);

// Upgrades an open database to kSchemaVersion when it is older, and returns
// the version it had. Nothing happens at kSchemaVersion. A failure leaves
// the file at its version with every reading and throws TUpgradeError
// (an unknown or newer version too: this program cannot use it). Versions
// 1.0 to 1.2 are brought up.
std::string UpgradeSchema(fb::Database& db, const TUpgradeProgress& progress = {});
