#pragma once
#include <QApplication>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <string>
#include <vector>

class QAbstractItemView;

// The one QApplication of the interface tests, made on first use: offscreen unless a platform
// is chosen, with the stored settings in a temporary folder and the application style and
// appearance, the update and the audit installed as the program does.
QApplication* ensureShellApp();

// Stores a setting through the program's settings object.
void setSetting(const QString& key, const QString& value);

// Base fixture: the application exists and the settings are back at English, system
// appearance, before each test.
class ShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureShellApp(); }
    void SetUp() override;
};

// A name with one character that breaks a line or reorders what follows, or with bytes that
// are not UTF-8, for checking that a page shows it on one line.
struct OddPiece {
    const char* what;
    std::string bytes;
};
const std::vector<OddPiece>& oddPieces();

// Whether `text` holds a control, a line or paragraph separator or a bidirectional
// embedding, override or isolate.
bool breaksItsLine(const QString& text);

// What the widget and everything in it show or read out: label and button texts, tooltips
// and accessible names and descriptions.
QStringList shownTexts(const QWidget* root);

// Every text in `shown` naming something marked `marker` reads as one line with the odd part
// shown as U+FFFD; at least `least` of them are shown.
void expectOneLine(const QStringList& shown, const QString& marker, int least);

// Clicks the middle of a row of the view, scrolled into sight first.
void clickRow(QAbstractItemView* view, int row);
