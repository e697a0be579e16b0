// kalosqm-cli cred: credentials files for network operators.
//   cred make ... -o FILE   writes a file for one site code
//   cred check FILE CODE    validates a file against a code
#include "programs/cli/cli.h"

#include <iostream>
#include <memory>

#include "core/station/credentials.h"

namespace {

// A site's SIT_CODE column holds 8 characters; a record holds 10.
constexpr size_t kSiteCodeColumn = 8;
constexpr size_t kRecordCode = 10;

struct MakeOptions {
    TCredentials c;
    std::string out;
};

int Make(MakeOptions& o) {
    TCredentials& c = o.c;
    if (c.SiteCode.size() > kSiteCodeColumn)
        std::cerr << "cred: warning: the site code '" << c.SiteCode << "' has " << c.SiteCode.size()
                  << " characters; a site's code holds " << kSiteCodeColumn << ", so no site can use this file\n";
    WriteCredentialsFile(o.out, c);
    return 0;
}

int Check(const std::string& file, const std::string& code) {
    std::string text;
    const int result = CheckCredentialsFileAt(file, code, text);
    std::cout << "result: " << result << "\n";
    if (!text.empty()) std::cout << "message: " << text << "\n";
    return result <= kCredentialsInvalid ? 1 : 0;
}

void Add(CLI::App& root) {
    CLI::App* cred = root.add_subcommand("cred", "credentials files of the network database");
    cred->require_subcommand(1);

    auto m = std::make_shared<MakeOptions>();
    CLI::App* make = cred->add_subcommand("make", "write a credentials file for a site code");
    const CLI::Validator siteCode(
        [](std::string& code) -> std::string {
            if (code.empty() || code.size() > kRecordCode)
                return "the site code must have 1 to " + std::to_string(kRecordCode) + " characters";
            if (code.find_first_of("/ \t\r\n") != std::string::npos)
                return "the site code must not contain blanks or '/'";
            return {};
        },
        "CODE");
    make->add_option("--code", m->c.SiteCode, "the site code")->required()->check(siteCode);
    make->add_option("--host", m->c.Host, "network database host")->required();
    make->add_option("--port", m->c.Port, "network database port")->required()->check(CLI::Range(1, 65535));
    make->add_option("--user", m->c.User)->required();
    make->add_option("--password", m->c.Password)->required();
    make->add_option("--database", m->c.Database)->required();
    make->add_flag("--upload", m->c.Upload, "the site may upload");
    make->add_flag("--download", m->c.Download, "the site may download");
    make->add_option("-o,--output", m->out, "the file to write")->required()->type_name("FILE");
    cli::SetAction(make, [m] { return Make(*m); });

    auto file = std::make_shared<std::string>();
    auto code = std::make_shared<std::string>();
    CLI::App* check = cred->add_subcommand(
        "check",
        "check a credentials file against a site code; prints the result (0 no file, 1 invalid, 2 no permission, "
        "4 upload + 8 download) and any message; exits 1 for results 0 and 1");
    check->add_option("file", *file, "the credentials file")->required();
    check->add_option("code", *code, "the site code")->required();
    cli::SetAction(check, [file, code] { return Check(*file, *code); });
}

}  // namespace

KALO_CLI_COMMAND("cred", &Add);
