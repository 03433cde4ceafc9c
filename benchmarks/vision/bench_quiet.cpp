#include "benchmarks/vision/bench_quiet.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

std::string bench_enter_workdir(const char* prefix) {
    std::string tmpl = std::string("/tmp/") + prefix + "_XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr || chdir(tmpl.c_str()) != 0) {
        std::perror("working directory");
        return "";
    }
    std::error_code error;
    if (!std::filesystem::create_directory("img", error)) {
        std::fprintf(stderr, "cannot make %s/img\n", tmpl.c_str());
        return "";
    }
    return tmpl;
}

int bench_quiet_stdout() {
    std::fflush(stdout);
    const int report_fd = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (report_fd < 0 || null_fd < 0 || dup2(null_fd, 1) < 0) {
        std::perror("standard output");
        return -1;
    }
    close(null_fd);
    return report_fd;
}
