#define _GNU_SOURCE
#include "csystem/csystem.h"
#include "csystem/procstatus.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t ts_read_small_file(const char* path, char* buf, size_t size)
{
    if (size == 0) {
        errno = EINVAL;
        return -1;
    }
    /* A FIFO or device put where a /proc or sysfs file is expected is refused, never waited on. */
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat info;
    int failure = fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : EINVAL;
    if (failure) {
        close(fd);
        errno = failure;
        return -1;
    }
    size_t used = 0;
    while (used + 1 < size) {
        ssize_t n = read(fd, buf + used, size - 1 - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            close(fd);
            errno = saved;
            return -1;
        }
        if (n == 0) break;
        used += (size_t)n;
    }
    close(fd);
    buf[used] = '\0';
    return (int64_t)used;
}

/* The whole of a /proc file in a growing heap buffer (NUL-terminated, caller frees); NULL with
 * errno set on failure. A status file's Groups: line alone may run to hundreds of kilobytes. */
static char* read_whole_proc_file(const char* path, size_t limit)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return NULL;
    size_t size = 8192, used = 0;
    char* buf = malloc(size);
    if (!buf) {
        close(fd);
        errno = ENOMEM;
        return NULL;
    }
    for (;;) {
        if (used + 1 == size) {
            if (size >= limit) {
                free(buf);
                close(fd);
                errno = EFBIG;
                return NULL;
            }
            char* bigger = realloc(buf, size * 2);
            if (!bigger) {
                free(buf);
                close(fd);
                errno = ENOMEM;
                return NULL;
            }
            buf = bigger;
            size *= 2;
        }
        ssize_t n = read(fd, buf + used, size - 1 - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            free(buf);
            close(fd);
            errno = saved;
            return NULL;
        }
        if (n == 0) break;
        used += (size_t)n;
    }
    close(fd);
    buf[used] = '\0';
    return buf;
}

int ts_status_kb(const char* text, const char* key, uint64_t* value)
{
    size_t keylen = strlen(key);
    const char* line = text;
    while (line && *line) {
        if (strncmp(line, key, keylen) == 0 && line[keylen] == ':') {
            const char* p = line + keylen + 1;
            while (*p == ' ' || *p == '\t') ++p;
            if (*p < '0' || *p > '9') return 0;
            uint64_t v = 0;
            while (*p >= '0' && *p <= '9') {
                if (v > (UINT64_MAX - 9) / 10) return 0;
                v = v * 10 + (uint64_t)(*p++ - '0');
            }
            /* A line cut short may have lost digits: only a complete line counts. */
            if (*p != ' ' && *p != '\n') return 0;
            if (!strchr(p, '\n')) return 0;
            *value = v;
            return 1;
        }
        line = strchr(line, '\n');
        if (line) ++line;
    }
    return 0;
}

int32_t ts_process_usage(int32_t pid, uint64_t* resident, uint64_t* footprint)
{
    if (pid <= 0) return ESRCH;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    errno = 0;
    char* buf = read_whole_proc_file(path, 16u << 20);
    if (!buf) return errno ? errno : EIO;
    uint64_t rss = 0, anon = 0, swap = 0;
    int32_t status = 0;
    /* Kernel threads and zombies have no memory lines: nothing to report for them. */
    if (!ts_status_kb(buf, "VmRSS", &rss) || !ts_status_kb(buf, "RssAnon", &anon)) {
        status = ENODATA;
    } else {
        ts_status_kb(buf, "VmSwap", &swap);
        *resident = rss * 1024;
        *footprint = (anon + swap) * 1024;
    }
    free(buf);
    return status;
}

int32_t ts_list_pids(int32_t* buffer, int32_t capacity)
{
    if (!buffer || capacity < 1) return -1;
    int fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    char entries[8192] __attribute__((aligned(8)));
    int32_t count = 0;
    for (;;) {
        ssize_t n = getdents64(fd, entries, sizeof entries);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return -1;
        }
        if (n == 0) break;
        for (ssize_t off = 0; off < n;) {
            struct dirent64* d = (struct dirent64*)(entries + off);
            off += d->d_reclen;
            const char* name = d->d_name;
            if (*name < '1' || *name > '9') continue;
            int64_t v = 0;
            while (*name >= '0' && *name <= '9' && v <= INT32_MAX) v = v * 10 + (*name++ - '0');
            if (*name != '\0' || v > INT32_MAX) continue;
            buffer[count++] = (int32_t)v;
            if (count == capacity) {
                close(fd);
                return count;
            }
        }
    }
    close(fd);
    return count > 0 ? count : -1;
}

int32_t ts_parent_pid(int32_t pid)
{
    if (pid <= 0) return -1;
    char path[64];
    char buf[1024];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    if (ts_read_small_file(path, buf, sizeof buf) < 0) return -1;
    /* The command name may hold spaces and parentheses: the fields resume after the last ')'. */
    const char* p = strrchr(buf, ')');
    if (!p) return -1;
    ++p;
    while (*p == ' ') ++p;
    if (*p == '\0') return -1; /* state */
    ++p;
    if (*p != ' ') return -1;
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return -1;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9' && v <= INT32_MAX) v = v * 10 + (*p++ - '0');
    if (v > INT32_MAX) return -1;
    return (int32_t)v;
}

int32_t ts_process_path(int32_t pid, char* buffer, int32_t size)
{
    if (pid <= 0 || !buffer || size < 2) return -1;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/exe", (int)pid);
    ssize_t n = readlink(path, buffer, (size_t)size);
    /* A result that fills the whole buffer may be cut short; a cut path would be wrong. */
    if (n <= 0 || n >= size) {
        buffer[0] = '\0';
        return -1;
    }
    buffer[n] = '\0';
    return (int32_t)n;
}
