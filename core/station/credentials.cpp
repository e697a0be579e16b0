#include "core/station/credentials.h"

#include "core/station/i18n.h"
#include "core/station/myutils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Field {
    size_t offset;
    size_t size;  // length byte included
    const char* name;
};
constexpr Field kCode{0, 11, "site code"};
constexpr Field kUser{11, 51, "database user"};
constexpr Field kPassword{62, 51, "database password"};
constexpr Field kHost{113, 256, "server host"};
constexpr size_t kPortOffset = 372;
constexpr Field kDatabase{376, 256, "database name"};
constexpr Field kUpload{632, 2, "upload permission"};
constexpr Field kDownload{634, 2, "download permission"};
constexpr Field kCheck{636, 12, "check text"};
static_assert(kCheck.offset + kCheck.size == kCredentialsRecordSize);

// Connection and statement timeouts of the admission test, in seconds.
constexpr int kTestConnectTimeout = 3;
constexpr int kTestStatementTimeout = 10;

std::string GetText(std::string_view rec, const Field& f) {
    const auto len = static_cast<unsigned char>(rec[f.offset]);
    if (len > f.size - 1)
        throw CredentialsFileError("The " + std::string(f.name) + " field states " + std::to_string(len) +
                                   " characters but holds at most " + std::to_string(f.size - 1));
    return std::string(rec.substr(f.offset + 1, len));
}

bool GetPermission(std::string_view rec, const Field& f) {
    return static_cast<unsigned char>(rec[f.offset]) == 1 && rec[f.offset + 1] == 'Y';
}

void PutText(std::string& rec, const Field& f, const std::string& text) {
    if (text.size() > f.size - 1)
        throw std::invalid_argument("The " + std::string(f.name) + " has " + std::to_string(text.size()) +
                                    " characters; at most " + std::to_string(f.size - 1) + " fit");
    rec[f.offset] = static_cast<char>(text.size());
    std::memcpy(rec.data() + f.offset + 1, text.data(), text.size());
}

// A code that would lead the file name out of crdfiles names no file.
bool UsableCode(const std::string& code) {
    return code.find('/') == std::string::npos && code.find('\0') == std::string::npos;
}

}  // namespace

std::string ScrambleText(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>((static_cast<unsigned char>(out[i]) + (i + 1) + 2) & 0xFF);
    return out;
}

std::string UnscrambleText(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>((static_cast<unsigned char>(out[i]) + 256 * 2 - (i + 1) - 2) & 0xFF);
    return out;
}

bool TCredentialsRecord::Consistent() const { return UnscrambleText(Code) == ScrambleText(Check); }

TCredentials TCredentialsRecord::Plain() const {
    TCredentials c;
    c.SiteCode = UnscrambleText(Code);
    c.User = UnscrambleText(User);
    c.Password = UnscrambleText(Password);
    c.Host = UnscrambleText(Host);
    c.Port = Port;
    c.Database = UnscrambleText(Database);
    c.Upload = Upload;
    c.Download = Download;
    return c;
}

std::string CredentialsFileName(const std::string& SiteCode) {
    return ProgramPath("crdfiles/Cred_" + SiteCode + ".crd");
}

TCredentialsRecord DecodeCredentialsRecord(std::string_view bytes) {
    if (bytes.size() < kCredentialsRecordSize)
        throw CredentialsFileError("A credentials record has " + std::to_string(kCredentialsRecordSize) +
                                   " bytes; only " + std::to_string(bytes.size()) + " found");
    const std::string_view rec = bytes.substr(0, kCredentialsRecordSize);
    TCredentialsRecord r;
    r.Code = GetText(rec, kCode);
    r.User = GetText(rec, kUser);
    r.Password = GetText(rec, kPassword);
    r.Host = GetText(rec, kHost);
    uint32_t port = 0;
    for (int i = 3; i >= 0; --i) port = (port << 8) | static_cast<unsigned char>(rec[kPortOffset + i]);
    r.Port = static_cast<int32_t>(port);
    r.Database = GetText(rec, kDatabase);
    r.Upload = GetPermission(rec, kUpload);
    r.Download = GetPermission(rec, kDownload);
    r.Check = GetText(rec, kCheck);
    return r;
}

TCredentialsRecord ReadCredentialsRecord(const std::string& path) {
    // O_NONBLOCK: a FIFO without a writer must not hold the caller. What was
    // opened is checked, not the name, so nothing can be swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw CredentialsFileError("Cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        throw CredentialsFileError("Cannot read " + path + ": " + std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw CredentialsFileError(path + " is not a regular file");
    }
    // One record is all that is ever read, whatever the size of the file.
    std::string buf(kCredentialsRecordSize, '\0');
    size_t got = 0;
    int readErrno = 0;
    while (got < buf.size()) {
        const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            readErrno = errno;
            break;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (readErrno != 0) throw CredentialsFileError("Cannot read " + path + ": " + std::strerror(readErrno));
    buf.resize(got);
    return DecodeCredentialsRecord(buf);
}

TCredentialsRecord ReadSiteCredentials(const std::string& SiteCode) {
    const std::string code = Trim(SiteCode);
    if (!UsableCode(code)) throw CredentialsFileError("Invalid site code for a credentials file");
    return ReadCredentialsRecord(CredentialsFileName(code));
}

std::string EncodeCredentialsRecord(const TCredentials& c) {
    std::string rec(kCredentialsRecordSize, '\0');
    PutText(rec, kCode, ScrambleText(c.SiteCode));
    PutText(rec, kUser, ScrambleText(c.User));
    PutText(rec, kPassword, ScrambleText(c.Password));
    PutText(rec, kHost, ScrambleText(c.Host));
    const auto port = static_cast<uint32_t>(c.Port);
    for (int i = 0; i < 4; ++i) rec[kPortOffset + i] = static_cast<char>((port >> (8 * i)) & 0xFF);
    PutText(rec, kDatabase, ScrambleText(c.Database));
    PutText(rec, kUpload, c.Upload ? "Y" : "N");
    PutText(rec, kDownload, c.Download ? "Y" : "N");
    PutText(rec, kCheck, UnscrambleText(c.SiteCode));
    return rec;
}

void WriteCredentialsFile(const std::string& path, const TCredentials& credentials) {
    const std::string rec = EncodeCredentialsRecord(credentials);
    // Written beside the target and renamed over it: a reader never sees half a record.
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("Cannot create " + tmp + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < rec.size()) {
        const ssize_t n = ::write(fd, rec.data() + done, rec.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            throw std::runtime_error("Cannot write " + tmp + ": " + std::strerror(e));
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        throw std::runtime_error("Cannot write " + path + ": " + std::strerror(e));
    }
}

int CheckCredentialsFileAt(const std::string& path, const std::string& SiteCode, std::string& ErrorText) {
    ErrorText.clear();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return kCredentialsMissing;
    TCredentialsRecord rec;
    try {
        rec = ReadCredentialsRecord(path);
    } catch (const std::exception&) {
        ErrorText = Tr("The credentials file is not in the expected format");
        return kCredentialsInvalid;
    }
    if (!rec.Consistent()) {
        ErrorText = Tr("Credentials file seems to be corrupted");
        return kCredentialsInvalid;
    }
    if (Trim(SiteCode) != UnscrambleText(rec.Code)) {
        ErrorText = Tr("The Site code does not match with the credential file");
        return kCredentialsInvalid;
    }
    int result = 0;
    if (rec.Upload) result += kCredentialsUpload;
    if (rec.Download) result += kCredentialsDownload;
    return result == 0 ? kCredentialsNoPermission : result;
}

int CheckCredentialsFile(const std::string& SiteCode, std::string& ErrorText) {
    ErrorText.clear();
    const std::string code = Trim(SiteCode);
    if (!UsableCode(code)) return kCredentialsMissing;
    return CheckCredentialsFileAt(CredentialsFileName(code), code, ErrorText);
}

netdb::ConnectParams CredentialsConnectParams(const TCredentialsRecord& record, int connectTimeoutSeconds) {
    netdb::ConnectParams p;
    p.Host = UnscrambleText(record.Host);
    p.Port = record.Port;
    p.User = UnscrambleText(record.User);
    p.Password = UnscrambleText(record.Password);
    p.Database = UnscrambleText(record.Database);
    p.ConnectTimeoutSeconds = connectTimeoutSeconds;
    return p;
}

bool TestNetworkConnection(const std::string& SiteCode, std::string& ErrorText, std::string* ClientError) {
    ErrorText.clear();
    if (ClientError) ClientError->clear();
    std::string checkText;
    const int state = CheckCredentialsFile(SiteCode, checkText);
    if (state == kCredentialsMissing) {
        // No file is not a bad file: say which one is missing.
        const std::string code = Trim(SiteCode);
        if (code.empty())
            ErrorText = Tr("First insert the Site code");
        else if (!UsableCode(code))
            ErrorText = Tr("The Site code cannot name a credentials file");
        else {
            ErrorText = Tr("There is no credentials file for the site code \"%s\"");
            if (const auto at = ErrorText.find("%s"); at != std::string::npos) ErrorText.replace(at, 2, code);
        }
        return false;
    }
    if (state < kCredentialsNoPermission) {
        ErrorText = Tr("Credential file is invalid");
        return false;
    }
    const TCredentialsRecord rec = ReadSiteCredentials(SiteCode);
    netdb::ConnectParams params = CredentialsConnectParams(rec, kTestConnectTimeout);
    params.ReadWriteTimeoutSeconds = kTestStatementTimeout;
    netdb::Connection conn;
    if (!conn.Connect(params)) {
        ErrorText = Tr("Unable to connect to the database");
        if (ClientError) *ClientError = conn.LastError();
        return false;
    }
    // The code as the caller gave it: the server's comparison decides about blanks.
    const netdb::Result r = conn.Query("SELECT COUNT(SIT_ID) AS NUM FROM SQMSITES WHERE SIT_CODE=" + conn.Quote(SiteCode));
    if (netdb::ParseInteger(r.FirstText()) == 0) {
        ErrorText = Tr("Site not configured on the remote server");
        return false;
    }
    return true;
}
