#pragma once

#include <QString>
#include <string_view>

// A file name or path as one line of plain text: bytes read as UTF-8, and every character that
// would break the line or reorder what follows it (controls, line and paragraph separators,
// bidirectional embeddings, overrides and isolates) shown as U+FFFD. A name such as
// "invoice<RLO>fdp.exe" then cannot pass for "invoiceexe.pdf" in a list the user confirms.
QString displayLine(std::string_view bytes);
