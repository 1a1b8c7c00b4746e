#pragma once
#include <unistd.h>

// Closes an open descriptor when the scope ends, on every path out of it.
struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
};
