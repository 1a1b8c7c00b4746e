#ifndef TESSYN_PROCSTATUS_H
#define TESSYN_PROCSTATUS_H
/* Parsing of /proc/<pid>/status text, shared by the process helpers and their tests. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The number of a complete "Key:   123 kB\n" line of `text` (NUL-terminated); 1 when found,
 * 0 when the key is missing, holds no number, overflows, or its line has no newline. */
int ts_status_kb(const char* text, const char* key, uint64_t* value);

#ifdef __cplusplus
}
#endif
#endif
