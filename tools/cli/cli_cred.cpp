// kalosqm-cli cred: credentials files for network operators.
//   cred make ... -o FILE   writes a file for one site code
//   cred check FILE CODE    validates a file against a code
#include "cli.h"

#include <charconv>
#include <iostream>

#include "credentials.h"

namespace {

// A site's SIT_CODE column holds 8 characters; a record holds 10.
constexpr size_t kSiteCodeColumn = 8;
constexpr size_t kRecordCode = 10;

bool ParsePort(const std::string& text, int32_t& port) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty() && port >= 1 && port <= 65535;
}

int Make(cli::Args args) {
    TCredentials c;
    std::string port, out;
    const bool haveAll = cli::TakeOption(args, "--code", c.SiteCode) && cli::TakeOption(args, "--host", c.Host) &&
                         cli::TakeOption(args, "--port", port) && cli::TakeOption(args, "--user", c.User) &&
                         cli::TakeOption(args, "--password", c.Password) &&
                         cli::TakeOption(args, "--database", c.Database) && cli::TakeOption(args, "-o", out);
    c.Upload = cli::TakeFlag(args, "--upload");
    c.Download = cli::TakeFlag(args, "--download");
    if (!haveAll || !args.empty()) return cli::Usage("cred");
    if (c.SiteCode.empty() || c.SiteCode.size() > kRecordCode) {
        std::cerr << "cred: the site code must have 1 to " << kRecordCode << " characters\n";
        return 2;
    }
    if (c.SiteCode.find_first_of("/ \t\r\n") != std::string::npos) {
        std::cerr << "cred: the site code must not contain blanks or '/'\n";
        return 2;
    }
    if (!ParsePort(port, c.Port)) {
        std::cerr << "cred: invalid port '" << port << "' (1-65535)\n";
        return 2;
    }
    if (c.SiteCode.size() > kSiteCodeColumn)
        std::cerr << "cred: warning: the site code '" << c.SiteCode << "' has " << c.SiteCode.size()
                  << " characters; a site's code holds " << kSiteCodeColumn << ", so no site can use this file\n";
    try {
        WriteCredentialsFile(out, c);
    } catch (const std::exception& e) {
        std::cerr << "cred: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

int Check(const cli::Args& args) {
    if (args.size() != 2) return cli::Usage("cred");
    std::string text;
    const int result = CheckCredentialsFileAt(args[0], args[1], text);
    std::cout << "result: " << result << "\n";
    if (!text.empty()) std::cout << "message: " << text << "\n";
    return result <= kCredentialsInvalid ? 1 : 0;
}

int Run(const cli::Args& args) {
    if (args.empty()) return cli::Usage("cred");
    const cli::Args rest(args.begin() + 1, args.end());
    if (args[0] == "make") return Make(rest);
    if (args[0] == "check") return Check(rest);
    return cli::Usage("cred");
}

}  // namespace

KALO_CLI_COMMAND("cred",
                 "  cred make --code CODE --host H --port P --user U --password W --database D\n"
                 "            [--upload] [--download] -o FILE\n"
                 "      write a credentials file for a site code (upload/download permissions as given)\n"
                 "  cred check FILE CODE\n"
                 "      check a credentials file against a site code; prints the result\n"
                 "      (0 no file, 1 invalid, 2 no permission, 4 upload + 8 download) and any message;\n"
                 "      exits 1 for results 0 and 1",
                 Run);
