#pragma once
#include <cstdint>
#include <string>

// Whose words a byte count uses around its number; the unit symbols (KB, MB, ...) are shared.
enum class ByteCountWords { english, chinese };

// The words of the system locale, the one dates follow (ICU's default): Chinese under a
// Chinese locale, else English.
ByteCountWords systemByteCountWords();

// A byte count in the file style: decimal units (1 kB = 1000 bytes), "bytes" below 1000,
// whole KB, one decimal for MB, two for GB and above, trailing zeros dropped; 0 is "Zero KB"
// ("零 KB" and "字节" in Chinese). The decimal separator is the user's (LC_NUMERIC), so
// "2,5 GB" under a decimal-comma locale, and the words are the system locale's.
std::string formatFileSize(int64_t bytes);

// The same with the decimal separator and the words given.
std::string formatFileSize(int64_t bytes, const std::string& decimalPoint,
                           ByteCountWords words = ByteCountWords::english);
