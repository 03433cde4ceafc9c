// Host file exchange over scp, to the account "tavi" on a host fixed at build time.
#pragma once

#include <cstddef>

// Writes number as "%d\n" into the local file at path, then copies it to the
// host directory with "scp <path> tavi@<ip>:<dir>/".
void comm_put_number(int number, const char* path);
// Copies <name> from the host directory into the working directory with
// "scp tavi@<ip>:<dir>/<name> ./".
void comm_get_file(const char* name);

// Room for one command line: at most 99 characters and the NUL.
constexpr std::size_t COMM_LINE_SIZE = 100;

// True when name is not empty, does not start with '-' and holds only letters,
// digits, '.', '_', '-' and '/': nothing the shell or scp would interpret.
bool comm_name_is_safe(const char* name);

// True when name is safe and also plain: no '/', and neither "." nor "..".
// A fetched file is named like this, since it lands under its own name.
bool comm_plain_name(const char* name);

// The send and fetch command lines for the built-in host and directory, into
// line (COMM_LINE_SIZE bytes). 0 when the line fits; -1 when the name (for a
// fetch: a plain name), the address or the directory is not safe, or the line
// would not fit (line then holds an empty string).
int comm_send_line(const char* path, char line[COMM_LINE_SIZE]);
int comm_fetch_line(const char* name, char line[COMM_LINE_SIZE]);

// The host address and directory the lines use.
const char* comm_host_ip();
const char* comm_host_dir();
