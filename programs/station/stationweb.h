#pragma once
// The station's web page and API on the service's database: a read-only
// attachment of its own (the embedded engine lets the service process have
// several), used by one request at a time. The routes and their parameters.
#include <mutex>
#include <string>

#include "core/station/fbdb.h"
#include "programs/station/httpserver.h"
#include "programs/station/webstate.h"

class TStationWeb {
public:
    // On the program's main thread: makes the painting application there.
    explicit TStationWeb(TStationActivity& activity);
    ~TStationWeb();

    // The database to read; empty while the service leaves it free (the
    // attachment is closed then, so other programs can have the file).
    void SetDatabase(const std::string& file);

    // Every route; safe to call from the server's threads.
    THttpResponse Handle(const THttpRequest& request);

private:
    fb::Database& Db();
    THttpResponse Route(const THttpRequest& request);

    TStationActivity& activity_;
    std::mutex mutex_;
    std::string file_;
    fb::Database db_;
};
