#include "sim/host/remote.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAccount = "tavi";

bool is_ipv4(const std::string& s) {
    int parts = 0;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = i;
        int value = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9' && j - i < 3) {
            value = value * 10 + (s[j] - '0');
            ++j;
        }
        if (j == i || value > 255)
            return false;
        ++parts;
        if (j == s.size())
            return parts == 4;
        if (s[j] != '.')
            return false;
        i = j + 1;
    }
    return false;
}

// The remote path must stay below the host directory: relative, no "..".
bool safe_relative(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return false;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        if (path.compare(i, j - i, "..") == 0 && j - i == 2)
            return false;
        i = j + 1;
    }
    return true;
}

}  // namespace

bool remote_split(const std::string& arg, remote_spec* out) {
    const size_t colon = arg.find(':');
    if (colon == std::string::npos || arg.find('/') < colon)
        return false;
    const std::string login = arg.substr(0, colon);
    const size_t at = login.find('@');
    out->user = at == std::string::npos ? std::string() : login.substr(0, at);
    out->host = at == std::string::npos ? login : login.substr(at + 1);
    out->path = arg.substr(colon + 1);
    return true;
}

bool remote_inside(const fs::path& root, const fs::path& p) {
    std::error_code ec;
    const fs::path r = fs::canonical(root, ec);
    if (ec)
        return false;
    const fs::path c = fs::canonical(p, ec);
    if (ec)
        return false;
    auto ri = r.begin();
    auto ci = c.begin();
    for (; ri != r.end(); ++ri, ++ci) {
        if (ci == c.end() || *ri != *ci)
            return false;
    }
    return true;
}

bool remote_check(const remote_spec& r, std::string* why) {
    if (r.user != kAccount) {
        *why = "permission denied for account '" + (r.user.empty() ? "(none)" : r.user) +
               "': the host takes only " + kAccount;
        return false;
    }
    if (!is_ipv4(r.host)) {
        *why = "'" + r.host + "' is not a dotted IPv4 address";
        return false;
    }
    if (!safe_relative(r.path)) {
        *why = "'" + r.path + "': only paths below the home directory are served";
        return false;
    }
    return true;
}
