#ifndef TESSYN_CSYSTEM_H
#define TESSYN_CSYSTEM_H
/* Process information over /proc, and one byte-wise substring test. Stateless, reentrant. */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads a small file (a /proc entry) whole into buf, NUL-terminated, keeping at most size - 1
 * bytes; the length kept, or -1 with errno set (EINVAL for anything but a regular file).
 * Longer files are cut silently. */
int64_t ts_read_small_file(const char* path, char* buf, size_t size);
/* Resident and footprint bytes of one process; 0 on success, outputs untouched otherwise. */
int32_t ts_process_usage(int32_t pid, uint64_t* resident, uint64_t* footprint);
/* Identifiers of all processes; the count written, below 1 on failure. */
int32_t ts_list_pids(int32_t* buffer, int32_t capacity);
/* Parent of one process, -1 on failure. */
int32_t ts_parent_pid(int32_t pid);
/* NUL-terminated path of the process's executable; its length, 0 or less on failure. */
int32_t ts_process_path(int32_t pid, char* buffer, int32_t size);
/* Whether needle occurs in haystack, comparing bytes; an empty needle is always found. */
bool ts_contains_utf8(const char* haystack, const char* needle);

#ifdef __cplusplus
}
#endif
#endif
