#pragma once
// Credentials files: a site takes part in the network database through a
// site code and a file issued for that code, kept as
// crdfiles/Cred_<code>.crd beside the program. The file holds one record of
// 648 bytes with the server's address, the database account and name
// (scrambled) and the upload/download permissions.
//
// Record layout (short strings: one length byte, then the characters, in a
// field of fixed size; bytes after the stated length are ignored):
//   0   11  site code, 0-10 characters, scrambled
//   11  51  database user, 0-50, scrambled
//   62  51  database password, 0-50, scrambled
//   113 256 server host, 0-255, scrambled
//   369 3   alignment
//   372 4   server port, 32-bit signed little-endian, plain
//   376 256 database name, 0-255, scrambled
//   632 2   upload permission, "Y" = allowed
//   634 2   download permission, "Y" = allowed
//   636 12  check text, 0-11: UnscrambleText of the site code
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/station/netdatabase.h"

inline constexpr size_t kCredentialsRecordSize = 648;

// Results of CheckCredentialsFile: 0, 1, 2, or the sum of the permission bits.
inline constexpr int kCredentialsMissing = 0;
inline constexpr int kCredentialsInvalid = 1;
inline constexpr int kCredentialsNoPermission = 2;
inline constexpr int kCredentialsUpload = 4;
inline constexpr int kCredentialsDownload = 8;

// A credentials file that cannot be read as a record: missing, unreadable,
// not a regular file, shorter than one record, or with a text longer than
// its field.
class CredentialsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Byte-wise shift by position (positions from 1): c + i + 2 and c - i - 2,
// both modulo 256, so that each undoes the other for every text.
std::string ScrambleText(std::string_view text);
std::string UnscrambleText(std::string_view text);

// What a credentials file says, in plain text.
struct TCredentials {
    std::string SiteCode;
    std::string User;
    std::string Password;
    std::string Host;
    int32_t Port = 3306;
    std::string Database;
    bool Upload = false;
    bool Download = false;
};

// One record as stored: the texts still scrambled, the check text as stored.
struct TCredentialsRecord {
    std::string Code;
    std::string User;
    std::string Password;
    std::string Host;
    int32_t Port = 0;
    std::string Database;
    // Granted only for a length byte of 1 and an upper-case Y.
    bool Upload = false;
    bool Download = false;
    std::string Check;

    // UnscrambleText of the stored code equals ScrambleText of the check text.
    bool Consistent() const;
    // The texts unscrambled.
    TCredentials Plain() const;
};

// ProgramDir()/crdfiles/Cred_<SiteCode>.crd; the caller trims the code.
std::string CredentialsFileName(const std::string& SiteCode);

// Decodes the first record of the bytes. Throws CredentialsFileError.
TCredentialsRecord DecodeCredentialsRecord(std::string_view bytes);
// Reads the first record of a file, opened read-only and without waiting: a
// FIFO, a folder or a device is refused at once. Throws CredentialsFileError.
TCredentialsRecord ReadCredentialsRecord(const std::string& path);
// The record of a site code's file (the code is trimmed first).
TCredentialsRecord ReadSiteCredentials(const std::string& SiteCode);

// The 648 bytes of a record for the given contents. Throws
// std::invalid_argument when a text is longer than its field.
std::string EncodeCredentialsRecord(const TCredentials& credentials);
// Writes a credentials file (replacing any file of that name).
// Throws std::invalid_argument or std::runtime_error.
void WriteCredentialsFile(const std::string& path, const TCredentials& credentials);

// Validates the file of the (trimmed) site code against that code.
// 0: no file (ErrorText empty); 1: invalid (ErrorText says why);
// otherwise 4 for upload plus 8 for download, or 2 for neither.
int CheckCredentialsFile(const std::string& SiteCode, std::string& ErrorText);
// The same check for a file anywhere (the operators' tool checks files
// before they are handed out).
int CheckCredentialsFileAt(const std::string& path, const std::string& SiteCode, std::string& ErrorText);

// Connection data of a record for the network database.
netdb::ConnectParams CredentialsConnectParams(const TCredentialsRecord& record, int connectTimeoutSeconds);

// Whether the network database accepts the site's connection and knows the
// site. ErrorText empty (and true) when it does; otherwise one of the texts
// "There is no credentials file for the site code "%s"" (or that the site
// has no code, or one no file can be named after),
// "Credential file is invalid", "Unable to connect to the database",
// "Site not configured on the remote server". A failing count statement or
// a file that vanished after its check is thrown (netdb::Error,
// CredentialsFileError). ClientError, when given, receives the client
// library's words when the connection failed, and is emptied otherwise.
bool TestNetworkConnection(const std::string& SiteCode, std::string& ErrorText, std::string* ClientError = nullptr);
