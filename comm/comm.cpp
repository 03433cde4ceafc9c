#include "comm/comm.h"

#include <cstdio>
#include <cstring>

#include "drive/command.h"

#ifndef TAVI_HOST_IP
#define TAVI_HOST_IP "192.168.0.10"
#endif

namespace {

const char ip[COMM_LINE_SIZE] = TAVI_HOST_IP;
const char dir[COMM_LINE_SIZE] = "tavion";

bool safe_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '/';
}

// Every piece that goes into a command line passes the safe-name rule, the
// build-time address and directory included, so nothing reaches the shell
// that it would interpret.
bool host_parts_safe() {
    return comm_name_is_safe(ip) && comm_name_is_safe(dir);
}

// A build that got its address or directory wrong says so, rather than
// blaming the file name or the line's length.
bool host_parts_refused(const char* nothing_done) {
    if (host_parts_safe()) {
        return false;
    }
    printf(
        "comm: built-in host address or directory refused (only letters, digits, '.', '_', "
        "'-', '/'; no leading '-'): %s\n",
        nothing_done);
    return true;
}

// snprintf reports the length the whole line would have had, so a line that
// does not fit is recognised instead of being run cut short.
int finish_line(int length, char line[COMM_LINE_SIZE]) {
    if (length < 0 || static_cast<std::size_t>(length) >= COMM_LINE_SIZE) {
        line[0] = '\0';
        return -1;
    }
    return 0;
}

void run(const char* line) {
    // Our own lines first, so they stay ahead of what scp prints.
    fflush(stdout);
    int status = command_run(line);
    (void)status;  // scp prints its own complaint; the caller wants none
}

}  // namespace

bool comm_name_is_safe(const char* name) {
    if (name == nullptr || name[0] == '\0' || name[0] == '-') {
        return false;
    }
    for (const char* p = name; *p != '\0'; ++p) {
        if (!safe_char(*p)) {
            return false;
        }
    }
    return true;
}

bool comm_plain_name(const char* name) {
    return comm_name_is_safe(name) && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

int comm_send_line(const char* path, char line[COMM_LINE_SIZE]) {
    if (!comm_name_is_safe(path) || !host_parts_safe()) {
        line[0] = '\0';
        return -1;
    }
    return finish_line(snprintf(line, COMM_LINE_SIZE, "scp %s tavi@%s:%s/", path, ip, dir), line);
}

int comm_fetch_line(const char* name, char line[COMM_LINE_SIZE]) {
    if (!comm_plain_name(name) || !host_parts_safe()) {
        line[0] = '\0';
        return -1;
    }
    return finish_line(snprintf(line, COMM_LINE_SIZE, "scp tavi@%s:%s/%s ./", ip, dir, name), line);
}

const char* comm_host_ip() {
    return ip;
}

const char* comm_host_dir() {
    return dir;
}

void comm_put_number(int number, const char* path) {
    char line[COMM_LINE_SIZE];
    if (host_parts_refused("nothing sent")) {
        return;
    }
    if (!comm_name_is_safe(path)) {
        printf(
            "comm: file name refused (only letters, digits, '.', '_', '-', '/'; no leading "
            "'-'): nothing sent\n");
        return;
    }
    if (comm_send_line(path, line) != 0) {
        printf("comm: copy command for %s would exceed 99 characters: nothing sent\n", path);
        return;
    }
    FILE* file = fopen(path, "w");
    if (file == nullptr) {
        printf("comm: cannot create %s: nothing sent\n", path);
        return;
    }
    fprintf(file, "%d\n", number);
    // A file that did not reach the disk whole is not worth copying.
    if (fclose(file) != 0) {
        printf("comm: cannot write %s: nothing sent\n", path);
        return;
    }
    run(line);
}

void comm_get_file(const char* name) {
    char line[COMM_LINE_SIZE];
    if (host_parts_refused("nothing fetched")) {
        return;
    }
    // The file lands in the working directory under its own name, so the name
    // is a plain one: no folder, no way out of the host directory.
    if (!comm_plain_name(name)) {
        printf(
            "comm: file name refused (a plain name: letters, digits, '.', '_', '-'; no leading "
            "'-', no '/', not '.' or '..'): nothing fetched\n");
        return;
    }
    if (comm_fetch_line(name, line) != 0) {
        printf("comm: copy command for %s would exceed 99 characters: nothing fetched\n", name);
        return;
    }
    run(line);
}
