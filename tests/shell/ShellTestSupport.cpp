#include "ShellTestSupport.h"

#include "shell/AppAppearance.h"
#include "shell/AppSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

QApplication* ensureShellApp()
{
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    static int argc = 1;
    static char name[] = "tessyn_ui_tests";
    static char* argv[] = {name, nullptr};
    auto* app = new QApplication(argc, argv);
    AppAppearanceModifier::install();
    return app;
}

void setSetting(const QString& key, const QString& value) { AppSettings::shared().setValue(key, value); }

void ShellTest::SetUp()
{
    setSetting(AppSettings::languageKey, QStringLiteral("en"));
    setSetting(AppSettings::appearanceKey, QStringLiteral("system"));
}

// The sanitizer build reports fontconfig's process-lifetime caches as leaks; they are not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
