#include "audit/AuditReports.h"

#include "audit/RuntimeAudit.h"

#include <QAccessible>
#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMetaEnum>
#include <QPixmap>
#include <QSaveFile>
#include <QWidget>
#include <cxxabi.h>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <typeinfo>

namespace AuditReports {

namespace {

QString pathIn(const QString& folder, const QString& name) { return QDir(folder).filePath(name); }

[[noreturn]] void fail(const QString& path, const QString& reason)
{
    throw ReportError{QStringLiteral("Could not write %1: %2").arg(path, reason)};
}

} // namespace

void createFolder(const QString& folder)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), error);
    if (error)
        throw ReportError{QStringLiteral("Could not create the folder %1: %2")
                              .arg(folder, QString::fromStdString(error.message()))};
}

void writePlain(const QString& folder, const QString& name, const QByteArray& bytes)
{
    QString path = pathIn(folder, name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) fail(path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush()) fail(path, file.errorString());
    file.close();
}

void writeAtomic(const QString& folder, const QString& name, const QByteArray& bytes)
{
    QString path = pathIn(folder, name);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) fail(path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        fail(path, file.errorString());
    }
    if (!file.commit()) fail(path, file.errorString());
}

QByteArray picture(QWidget* view)
{
    if (!view) return {};
    QPixmap bitmap = view->grab();
    if (bitmap.isNull()) return {};
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !bitmap.save(&buffer, "PNG")) return {};
    return png;
}

} // namespace AuditReports

namespace RuntimeAudit {

namespace {

// The last name of a possibly qualified C++ name.
QString unqualified(const QString& name) { return name.section(QStringLiteral("::"), -1); }

QString interfaceClassName(QAccessibleInterface* element)
{
    if (QObject* object = element->object()) return unqualified(QString::fromLatin1(object->metaObject()->className()));
    // Elements without an object of their own (cells, rows): the interface's own type.
    const char* mangled = typeid(*element).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> plain(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return unqualified(QString::fromLatin1(status == 0 && plain ? plain.get() : mangled));
}

std::optional<QString> roleName(QAccessible::Role role)
{
    static const QMetaEnum roles = QMetaEnum::fromType<QAccessible::Role>();
    const char* key = roles.valueToKey(role);
    if (!key) return std::nullopt;
    return QString::fromLatin1(key);
}

QByteArray joinLines(const QStringList& lines) { return lines.join(QLatin1Char('\n')).toUtf8(); }

QString nilIfAbsent(const std::optional<QString>& text) { return text ? *text : QStringLiteral("nil"); }

} // namespace

std::vector<Element> elements(QObject* value, int depth)
{
    if (!value) return {};
    return elements(QAccessible::queryAccessibleInterface(value), depth);
}

std::vector<Element> elements(QAccessibleInterface* element, int depth)
{
    if (depth > deepestElement || !element || !element->isValid()) return {};
    // What is not on screen is no element of the window as a user meets it: the other
    // layout's navigation, closed menus, a placeholder that has gone.
    if (element->state().invisible) return {};
    Element entry;
    entry.className = interfaceClassName(element);
    entry.role = roleName(element->role());
    QString label = element->text(QAccessible::Name);
    if (!label.isNull()) entry.label = label;
    // Qt has no accessibility identifier of its own; the object's name plays that part.
    if (QObject* object = element->object(); object && !object->objectName().isEmpty())
        entry.identifier = object->objectName();

    std::vector<Element> walk{entry};
    int count = element->childCount();
    for (int index = 0; index < count; ++index) {
        std::vector<Element> below = elements(element->child(index), depth + 1);
        walk.insert(walk.end(), below.begin(), below.end());
    }
    return walk;
}

QString shownTitle(const QString& text)
{
    // "&&" shows one ampersand; a single "&" only marks the mnemonic.
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        else if (text[i] == QLatin1Char('&')) continue;
        shown.append(text[i]);
    }
    return shown;
}

QByteArray menusText(const QMenuBar* menuBar)
{
    if (!menuBar) return {};
    QStringList lines;
    for (QAction* top : menuBar->actions()) {
        QString line = shownTitle(top->text()) + QStringLiteral(" : ");
        if (QMenu* submenu = top->menu()) {
            QStringList entries;
            for (QAction* item : submenu->actions())
                entries.append(shownTitle(item->text()) + QStringLiteral(" enabled=") +
                               (item->isEnabled() ? QStringLiteral("true") : QStringLiteral("false")));
            line += entries.join(QStringLiteral(", "));
        }
        lines.append(line);
    }
    return joinLines(lines);
}

QByteArray treeText(const std::vector<Element>& walk)
{
    QStringList lines;
    const QString bar = QStringLiteral(" | ");
    for (const Element& element : walk)
        lines.append(element.className + bar + nilIfAbsent(element.role) + bar + nilIfAbsent(element.label) + bar +
                     nilIfAbsent(element.identifier));
    return joinLines(lines);
}

QByteArray navigationJson(const std::vector<Result>& results)
{
    // nlohmann's objects keep their keys sorted, write doubles with a fractional part and,
    // asked not to, leave non-ASCII text unescaped.
    nlohmann::json array = nlohmann::json::array();
    for (const Result& result : results)
        array.push_back({{"layout", result.layout.toStdString()},
                         {"page", result.page.toStdString()},
                         {"round", result.round},
                         {"milliseconds", result.milliseconds},
                         {"contentMilliseconds", result.contentMilliseconds}});
    return QByteArray::fromStdString(array.dump(2, ' ', false));
}

std::vector<Result> resultsFromJson(const QByteArray& json)
{
    std::vector<Result> results;
    for (const auto& object : nlohmann::json::parse(json.toStdString())) {
        Result result;
        result.layout = QString::fromStdString(object.at("layout").get<std::string>());
        result.page = QString::fromStdString(object.at("page").get<std::string>());
        result.round = object.at("round").get<int64_t>();
        result.milliseconds = object.at("milliseconds").get<double>();
        result.contentMilliseconds = object.at("contentMilliseconds").get<double>();
        results.push_back(result);
    }
    return results;
}

} // namespace RuntimeAudit
