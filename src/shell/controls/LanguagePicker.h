#pragma once
#include "shell/controls/SegmentedControl.h"

// The interface-language control of the settings page: "简体中文" ("zh-Hans") and "English"
// ("en"), each named in itself in both languages. It shows the stored "tessyn.language"
// (anything unknown shows the first segment) and writes the chosen value there.
class LanguagePicker : public SegmentedControl {
    Q_OBJECT
public:
    explicit LanguagePicker(QWidget* parent = nullptr);

private:
    void refresh();
};
