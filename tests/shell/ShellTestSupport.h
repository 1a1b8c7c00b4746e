#pragma once
#include <QApplication>
#include <QString>
#include <gtest/gtest.h>

// The one QApplication of the interface tests, made on first use: offscreen unless a platform
// is chosen, with the stored settings in a temporary folder and the application style and
// appearance installed as the program does.
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
