#pragma once
// Community standard skyglow data files (format 1.0, Kyba & Lolkema 2012)
// as our night files and other loggers write them: the header, its column
// list, the data rows with their line numbers, and their import as local
// readings of a site, completed with the astronomy of a meter reading.
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/site/siteports.h"

namespace fb {
class Database;
class Transaction;
}  // namespace fb

// REA_ORIGIN of a reading imported from such a file; 'K' is a reading this
// program took from a meter, 'S' one of another station on the network.
inline constexpr char kImportedOrigin = 'I';

// The file as a whole cannot be read: it cannot be opened, it is not a
// community file, its header has no end or names no usable columns.
class ECommunityFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The header's column list, and the field index of each column the import
// knows (-1 when the list does not name it).
struct TCommunityColumns {
    std::vector<std::string> Names;
    int Utc = -1, Local = -1, Temperature = -1, Counts = -1, Frequency = -1, Msas = -1;
};

struct TCommunityHeader {
    std::vector<std::string> Lines;  // without line ends, "# END OF HEADER" last
    std::string Title;               // line 1 without "# "
    std::optional<int> DeclaredLines;   // "# Number of header lines:", often wrong
    std::optional<double> CoverOffset;  // "# SQM cover offset value:" when numeric
    TCommunityColumns Columns;
    // The text after "# <key>:" of the first header line with that key,
    // compared without case; nullopt when no line has it.
    std::optional<std::string> Value(std::string_view key) const;
};

struct TCommunityRow {
    size_t Line = 0;  // in the file, from 1
    double Utc = 0;   // date-time
    double Msas = 0;  // mag/arcsec^2 as written
    std::optional<double> Local, Temperature, Counts, Frequency;  // when named and readable
};

struct TCommunityLineError {
    size_t Line = 0;
    std::string Message;
};

struct TCommunityFile {
    TCommunityHeader Header;
    std::vector<TCommunityRow> Rows;
    std::vector<TCommunityLineError> Errors;  // malformed data lines
    size_t DataLines() const { return Rows.size() + Errors.size(); }
};

// The bounds of what is read. A year of one-minute readings in one file is
// about 40 MB, so three years fit; a line of the format is at most about 150
// to 200 characters, ours never over 150, so five times that is generous.
// Beyond them the file is refused as a whole, before anything is stored.
inline constexpr size_t kCommunityMaxFileBytes = 128u << 20;
inline constexpr size_t kCommunityMaxLineBytes = 1024;

// Lines end in LF or CR LF. A data line is malformed when it has not as
// many fields as the column list names (a trailing ";" aside), or its UTC
// time, MSAS or named temperature cannot be read; the others are read
// anyway. Blank lines and comment lines after the header are no data.
// Throws ECommunityFile when the file as a whole cannot be read, also
// for a line longer than kCommunityMaxLineBytes.
TCommunityFile ParseCommunityFile(std::string_view content);
// Refuses at once anything that is not a regular file (a FIFO, a device, a
// folder: nothing waits for a writer or reads without end) and a file over
// kCommunityMaxFileBytes.
TCommunityFile ReadCommunityFile(const std::string& path);

// "YYYY-MM-DDTHH:mm:ss" with an optional fraction of a second (milliseconds
// kept, further digits dropped) to a date-time; false when it is not one.
bool ParseCommunityTime(std::string_view text, double& dt);

struct TCommunityImport {
    size_t Read = 0;  // data lines
    size_t Inserted = 0, Updated = 0;
    size_t AlreadyStored = 0;  // keys that hold a reading of the meter (or the network), left as they are
    std::vector<TCommunityLineError> Errors;  // the lines skipped
    size_t Skipped() const { return Errors.size(); }
};
// Rows stored so far of the total, now and then.
using TImportProgress = std::function<void(size_t done, size_t total)>;

// Stores the rows in tr as readings of the site, each as the acquisition
// stores one from the meter: key, astronomy for the site's position, night
// (0) or daylight (-1) state by the site's reading window, the value as
// written with the header's cover offset as REA_SQMOFFSET (0 without one),
// origin kImportedOrigin, neither uploaded, synchronised nor modified. An
// existing key is updated only when it holds an imported reading too; one
// the meter gave (a station's own night file imported again) stays as it
// is and counts as already stored. Where the window of a day cannot be computed
// (no sunset or no astronomical dusk that day), a reading is a night reading
// when the Sun is below the window's altitude. workers: threads for the
// astronomy, 0 for one per core. The caller commits.
TCommunityImport ImportCommunityRows(fb::Transaction& tr, const TSiteRow& site, const TCommunityFile& file,
                                     const TImportProgress& progress = {}, unsigned workers = 0);

// Reads a file and imports it in one transaction of its own, committed at
// its end. When the file cannot be read or the database fails, nothing of
// it stays and the error is thrown (ECommunityFile for the file itself).
TCommunityImport ImportCommunityFile(fb::Database& db, const TSiteRow& site, const std::string& path,
                                     const TImportProgress& progress = {}, unsigned workers = 0);
