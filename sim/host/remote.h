// The host's side of a copy as the scp stand-in takes it: "user@host:path"
// split into its parts and checked against what the simulated host serves
// (the one account, a dotted IPv4 address, a path below the home directory).
#pragma once

#include <filesystem>
#include <string>

struct remote_spec {
    std::string user, host, path;
};

// "user@host:path" -> parts; false when the argument names no remote file.
// A colon after a slash belongs to a local path, as with the real command.
bool remote_split(const std::string& arg, remote_spec* out);
// The account, the address and the path; false with the reason in *why.
bool remote_check(const remote_spec& r, std::string* why);
// True when p (which exists) resolves to a place inside root.
bool remote_inside(const std::filesystem::path& root, const std::filesystem::path& p);
