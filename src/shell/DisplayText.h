#pragma once

#include <QString>
#include <cstdint>
#include <string_view>

// A file name or path as one line of plain text: bytes read as UTF-8, and every character that
// would break the line or reorder what follows it (controls, line and paragraph separators,
// bidirectional embeddings, overrides and isolates) shown as U+FFFD. A name such as
// "invoice<RLO>fdp.exe" then cannot pass for "invoiceexe.pdf" in a list the user confirms.
QString displayLine(std::string_view bytes);

// Bytes read as UTF-8, for texts that are not shown as a single line.
QString textFromBytes(std::string_view bytes);

// A size in bytes as the pages show it ("1.2 GB").
QString sizeText(int64_t bytes);

// The user's short numeric date of `date` (seconds since 2001), without and with the short
// time; ISO 8601 when the locale gives no formatter. Main thread only: the formatters are shared.
QString numericDate(double date);
QString numericDateTime(double date);
