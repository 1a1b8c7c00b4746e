#pragma once
#include <QWidget>

class AppModel;

// The separate settings window: the settings page padded by 28, 480 wide.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedWidth = 480;
    static constexpr int contentPadding = 28;

    explicit SettingsWindow(AppModel& model, QWidget* parent = nullptr);
    QWidget* content() const { return content_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* content_ = nullptr;
    void retitle();
    void rebuild(AppModel& model);
};
