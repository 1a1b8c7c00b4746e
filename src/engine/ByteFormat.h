#pragma once
#include <cstdint>
#include <string>

// A byte count in the file style: decimal units (1 kB = 1000 bytes), "bytes" below 1000,
// whole KB, one decimal for MB, two for GB and above, trailing zeros dropped; 0 is "Zero KB".
// The decimal separator is the user's (LC_NUMERIC), so "2,5 GB" under a decimal-comma locale.
std::string formatFileSize(int64_t bytes);

// The same with the decimal separator given.
std::string formatFileSize(int64_t bytes, const std::string& decimalPoint);
