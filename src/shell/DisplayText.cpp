#include "shell/DisplayText.h"

namespace {

bool breaksTheLine(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString displayLine(std::string_view bytes)
{
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (QChar& c : text)
        if (breaksTheLine(c.unicode())) c = QChar::ReplacementCharacter;
    return text;
}
