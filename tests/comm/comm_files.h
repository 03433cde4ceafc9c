// File checks shared by the exchange tests.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

inline std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
