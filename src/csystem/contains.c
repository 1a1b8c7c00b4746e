#include "csystem/csystem.h"

#include <string.h>

bool ts_contains_utf8(const char* haystack, const char* needle)
{
    return strstr(haystack, needle) != NULL;
}
