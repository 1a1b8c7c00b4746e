#pragma once
#include "shell/window/CachedPageHost.h"

#include <QScrollArea>
#include <functional>

class AppModel;
class QPushButton;
class QWidget;
class StyledLabel;

// The first page of the main window: memory advice, free space and the last scan, with
// shortcuts into the memory page and into the file list with a category already chosen.
// It keeps no state: every text is drawn again from the model.
class OverviewPage : public QScrollArea, public RefreshablePage {
    Q_OBJECT
public:
    using Navigate = std::function<void(const QString& page)>;

    OverviewPage(AppModel& model, Navigate navigate, QWidget* parent = nullptr);

    void refreshContent() override;

    // The shortcut buttons of the scan card, for the filters "大文件", "旧下载候选", "重复文件".
    QPushButton* shortcutButton(const QString& filter) const;

private:
    AppModel& model_;
    Navigate navigate_;

    StyledLabel* adviceTitle_ = nullptr;
    StyledLabel* adviceExplanation_ = nullptr;
    StyledLabel* physicalMemory_ = nullptr;
    QPushButton* memoryButton_ = nullptr;
    StyledLabel* freeSpace_ = nullptr;
    StyledLabel* freeSpaceNote_ = nullptr;
    QPushButton* filesButton_ = nullptr;
    StyledLabel* notScanned_ = nullptr;
    StyledLabel* counts_ = nullptr;
    StyledLabel* scanState_ = nullptr;
    QWidget* shortcuts_ = nullptr;
    std::vector<std::pair<QString, QPushButton*>> shortcutButtons_;
    StyledLabel* rootPath_ = nullptr;
    StyledLabel* footnote_ = nullptr;

    void openFiles(const QString& filter);
};
