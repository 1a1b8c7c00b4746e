#include "shell/LocalizedText.h"

#include "shell/app/AppSettings.h"

#include <QFile>
#include <mutex>

static void registerShellResources()
{
    Q_INIT_RESOURCE(resources);
}

void ensureShellResources()
{
    static std::once_flag once;
    std::call_once(once, registerShellResources);
}

namespace {

// The compiled-in catalog is the last of the catalog's places; the engine-side loader asks
// for its bytes only when no file is installed beside the program.
const bool builtinCatalogRegistered = [] {
    LocalizationCatalog::setBuiltinSource([]() -> std::optional<std::string> {
        ensureShellResources();
        QFile file(QStringLiteral(":/Localization/en.json"));
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        QByteArray bytes = file.readAll();
        return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    });
    return true;
}();

bool hasIdeograph(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
}

} // namespace

QString L(const QString& text, AppLanguage language)
{
    (void)builtinCatalogRegistered;
    if (!hasIdeograph(text)) return text;
    QByteArray utf8 = text.toUtf8();
    return QString::fromStdString(::L(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), language));
}

QString L(const char* text, AppLanguage language) { return L(QString::fromUtf8(text), language); }

QString L(const QString& text) { return L(text, currentLanguage()); }

QString warningText(const QString& line, AppLanguage language)
{
    // Reasons (system texts and ours) hold no full-width colon; a name may.
    static const QString mark = QStringLiteral("：");
    qsizetype at = line.lastIndexOf(mark);
    if (at < 0) return L(line, language);
    QString separator = language == AppLanguage::simplifiedChinese ? mark : QStringLiteral(": ");
    return line.left(at) + separator + L(line.mid(at + mark.size()), language);
}

QString warningText(const QString& line) { return warningText(line, currentLanguage()); }

QString plainTitle(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return out;
}
