#include "shell/DisplayText.h"

#include "engine/ByteFormat.h"
#include "engine/Dates.h"

#include <QDateTime>
#include <memory>
#include <unicode/datefmt.h>

namespace {

bool breaksTheLine(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

QString formatted(const icu::DateFormat& format, double unixSeconds)
{
    icu::UnicodeString text;
    format.format(unixSeconds * 1000.0, text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

QDateTime dateTimeOf(double unixSeconds) { return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixSeconds * 1000.0)); }

} // namespace

QString displayLine(std::string_view bytes)
{
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (QChar& c : text)
        if (breaksTheLine(c.unicode())) c = QChar::ReplacementCharacter;
    return text;
}

QString textFromBytes(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString sizeText(int64_t bytes) { return QString::fromStdString(formatFileSize(bytes)); }

QString numericDate(double date)
{
    static std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateInstance(icu::DateFormat::kShort));
    double unixSeconds = unixTimeFromDate(date);
    return format ? formatted(*format, unixSeconds) : dateTimeOf(unixSeconds).date().toString(Qt::ISODate);
}

QString numericDateTime(double date)
{
    static std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kShort));
    double unixSeconds = unixTimeFromDate(date);
    return format ? formatted(*format, unixSeconds) : dateTimeOf(unixSeconds).toString(Qt::ISODate);
}
