#include "shell/DesktopServices.h"

#include "platform/Locations.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTranslator>
#include <algorithm>
#include <memory>
#include <vector>

namespace DesktopServices {
namespace {

Launcher systemLauncher()
{
    Launcher launcher;
    launcher.showItems = [](const QStringList& uris, std::function<void(bool)> answered) {
        showItemsOver(QDBusConnection::sessionBus(), uris, std::move(answered));
    };
    launcher.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    launcher.startProgram = [](const QString& program) { return QProcess::startDetached(program, {}); };
    launcher.findProgram = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    return launcher;
}

Launcher& current()
{
    static Launcher launcher = systemLauncher();
    return launcher;
}

QString localPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// The file URI of a path built from its bytes: a name that is not UTF-8 would otherwise come
// back as replacement characters and name another file.
QByteArray fileUri(QByteArray path)
{
    if (!path.startsWith('/')) path = QFile::encodeName(QDir::currentPath()) + '/' + path;
    return "file://" + path.toPercentEncoding("/");
}

} // namespace

void showItemsOver(const QDBusConnection& bus, const QStringList& uris, std::function<void(bool shown)> answered)
{
    if (!bus.isConnected()) return answered(false);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous and bounded: a file manager that takes the call and never answers must
    // hold neither the window nor the fallback.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, fileManagerWait), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [answered = std::move(answered)](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         answered(!done->isError());
                     });
}

void setLauncher(Launcher launcher)
{
    Launcher system = systemLauncher();
    if (!launcher.showItems) launcher.showItems = system.showItems;
    if (!launcher.openUrl) launcher.openUrl = system.openUrl;
    if (!launcher.startProgram) launcher.startProgram = system.startProgram;
    if (!launcher.findProgram) launcher.findProgram = system.findProgram;
    current() = std::move(launcher);
}

void reveal(const std::string& path)
{
    QByteArray item = fileUri(QByteArray::fromStdString(path));
    QByteArray folder = item.left(std::max<qsizetype>(item.lastIndexOf('/'), qsizetype(sizeof "file:///") - 1));
    current().showItems({QString::fromLatin1(item)}, [folder](bool shown) {
        if (!shown) current().openUrl(QUrl::fromEncoded(folder, QUrl::StrictMode));
    });
}

bool openTrash()
{
    return current().openUrl(QUrl::fromLocalFile(localPath(Locations::homeTrash() + "/files")));
}

const QStringList& activityMonitors()
{
    static const QStringList programs = {QStringLiteral("gnome-system-monitor"), QStringLiteral("plasma-systemmonitor"),
                                         QStringLiteral("ksysguard"), QStringLiteral("xfce4-taskmanager"),
                                         QStringLiteral("mate-system-monitor")};
    return programs;
}

bool openActivityMonitor()
{
    for (const QString& name : activityMonitors()) {
        QString program = current().findProgram(name);
        if (!program.isEmpty()) return current().startProgram(program);
    }
    return false;
}

void applyQtTranslations(AppLanguage language)
{
    static std::vector<std::unique_ptr<QTranslator>> loaded;
    for (const auto& translator : loaded) QCoreApplication::removeTranslator(translator.get());
    loaded.clear();
    if (language != AppLanguage::simplifiedChinese) return;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* catalog : {"qtbase_zh_CN"}) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(QString::fromLatin1(catalog), folder)) continue;
        QCoreApplication::installTranslator(translator.get());
        loaded.push_back(std::move(translator));
    }
}

} // namespace DesktopServices
