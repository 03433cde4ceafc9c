// Host file exchange over scp, to the account "tavi" on a host fixed at build time.
#pragma once

// Writes number as "%d\n" into the local file at path, then copies it to the
// host directory with "scp <path> tavi@<ip>:<dir>/".
void comm_put_number(int number, const char* path);
// Copies <name> from the host directory into the working directory with
// "scp tavi@<ip>:<dir>/<name> ./".
void comm_get_file(const char* name);
