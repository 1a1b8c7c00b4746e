#include "ShellTestSupport.h"

#include "audit/RuntimeAudit.h"
#include "shell/style/AppAppearance.h"
#include "shell/app/AppSettings.h"
#include "shell/app/ShellHooks.h"
#include "update/SoftwareUpdateController.h"
#include "update/UpdateHooks.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

namespace {
// As the program's main does first: before any test uses OpenSSL.
const bool tlsStateLeftAtExit = (SoftwareUpdateController::leaveTlsStateToTheSystemAtExit(), true);
} // namespace

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
    // The update and the audit take part as in the program.
    installShellHooks({updateHooks(), RuntimeAudit::shellHooks()});
    return app;
}

void setSetting(const QString& key, const QString& value) { AppSettings::shared().setValue(key, value); }

void ShellTest::SetUp()
{
    setSetting(AppSettings::languageKey, QStringLiteral("en"));
    setSetting(AppSettings::appearanceKey, QStringLiteral("system"));
}

// The sanitizer build reports fontconfig's process-lifetime caches as leaks; they are not ours.
// Nor is the OpenSSL state of Qt's HTTPS thread: a network manager waits at most 5 s for that
// thread, so on a loaded machine it can still be closing its connections when the test exits.
// Tessyn's own OpenSSL use (hashing) is checked by the core tests, where this does not apply.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libcrypto.so\n";
}

const std::vector<OddPiece>& oddPieces()
{
    static const std::vector<OddPiece> pieces = {
        {"newline", "\n"},          {"tab", "\t"},
        {"line separator", "\u2028"}, {"paragraph separator", "\u2029"},
        {"right-to-left override", "\u202E"}, {"isolate", "\u2067"},
        {"invalid UTF-8", "\xff\xfe"},
    };
    return pieces;
}

bool breaksItsLine(const QString& text)
{
    static const QRegularExpression breaking(
        QStringLiteral("[\\x{0}-\\x{1f}\\x{7f}-\\x{9f}\\x{2028}\\x{2029}\\x{202a}-\\x{202e}\\x{2066}-\\x{2069}]"));
    return text.contains(breaking);
}

QStringList shownTexts(const QWidget* root)
{
    QStringList out;
    QList<const QWidget*> widgets{root};
    for (const QWidget* child : root->findChildren<QWidget*>()) widgets << child;
    for (const QWidget* widget : widgets) {
        if (auto* label = qobject_cast<const QLabel*>(widget)) out << label->text();
        if (auto* button = qobject_cast<const QAbstractButton*>(widget)) out << button->text();
        out << widget->toolTip() << widget->accessibleName() << widget->accessibleDescription();
    }
    out.removeAll(QString());
    return out;
}

void expectOneLine(const QStringList& shown, const QString& marker, int least)
{
    int named = 0;
    for (const QString& text : shown) {
        if (!text.contains(marker)) continue;
        ++named;
        EXPECT_FALSE(breaksItsLine(text)) << text.toStdString();
        EXPECT_TRUE(text.contains(QChar::ReplacementCharacter)) << text.toStdString();
    }
    EXPECT_GE(named, least) << "texts naming " << marker.toStdString();
}

void clickRow(QAbstractItemView* view, int row)
{
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}
