#pragma once
#include "services/Localization.h"

#include <QString>

// The display text of a Chinese interface text in `language`.
QString L(const QString& text, AppLanguage language);
// A literal in the interface (keeps L("...", language) unambiguous beside the engine's L).
QString L(const char* text, AppLanguage language);
// The same in the current interface language (read from the stored setting at each call).
QString L(const QString& text);

// A warning of a scan or a duplicate search, "<name>：<reason>" (or a fixed text of ours alone):
// the name is shown as it is, whatever it reads like; only the reason is looked up.
QString warningText(const QString& line, AppLanguage language);
QString warningText(const QString& line);

// Registers the compiled-in resources (catalog, icons, artwork); safe to call repeatedly.
void ensureShellResources();

// A text for a button or label title, where "&" would otherwise mark a mnemonic.
QString plainTitle(const QString& text);
