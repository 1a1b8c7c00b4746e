#pragma once
#include "services/InstalledApp.h"
#include "shell/controls/RowButtonTracker.h"

#include <QListView>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ApplicationListModel;
class ApplicationRowDelegate;
namespace ApplicationIcons {
class Load;
}

// The applications of the maintenance page, one painted row each (icon, name, path, bundle
// identifier, the running mark and the buttons "检查缓存" and "卸载…"), so thousands of bundles
// cost no widgets and a refresh or a search replaces rows in the model, not widgets.
// From the keyboard the list is one stop in the focus chain: the arrows up and down move the
// current row, left and right choose between its buttons, and Space or Return presses the
// chosen one. Icons are read lazily for the rows on screen, through the shared icon cache.
class ApplicationList : public QListView {
    Q_OBJECT
public:
    enum RowButton { inspectButton = 0, uninstallButton };
    // The current application and the button chosen in it, to put back on a rebuilt list.
    struct Place {
        std::string current;
        RowButton button = inspectButton;
    };

    explicit ApplicationList(QWidget* parent = nullptr);
    ~ApplicationList() override;

    // The listed applications. The same ones in the same order only redraw what changed;
    // otherwise the rows are replaced, and the current application and the rows in view stay
    // where they are while they are still listed.
    void setApps(std::vector<InstalledApp> apps);
    const std::vector<InstalledApp>& apps() const;
    // While busy every button is off; a running application's buttons are off too.
    void setStates(bool busy, const std::function<bool(const InstalledApp&)>& running);

    int rowOf(const std::string& path) const;
    bool hasButton(int row, RowButton button) const;
    bool buttonEnabled(int row, RowButton button) const;
    bool showsRunning(int row) const;
    // Where a row's button and its icon are drawn, in viewport coordinates; empty when the row
    // has no such button or is not laid out.
    QRect buttonRect(int row, RowButton button) const;
    QRect iconRect(int row) const;
    bool iconLoaded(int row) const;
    // The button that Space presses on the current row.
    std::optional<RowButton> chosenButton() const;

    Place place() const;
    void setPlace(const Place& place);

signals:
    void inspectRequested(const InstalledApp& app);
    void uninstallRequested(const InstalledApp& app);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class ApplicationRowDelegate;

    ApplicationListModel* model_ = nullptr;
    ApplicationRowDelegate* delegate_ = nullptr;
    RowButtonTracker* buttons_ = nullptr;
    RowButton chosen_ = inspectButton;
    bool busy_ = false;
    // Icons are asked for once a row has been on screen a moment, so a quick scroll past
    // thousands of rows reads none of them.
    QTimer iconDelay_;
    std::map<QString, std::shared_ptr<ApplicationIcons::Load>> iconLoads_;

    std::optional<RowButtonHit> buttonAt(const QPoint& viewportPos) const;
    void press(int row, RowButton button);
    void loadVisibleIcons();
    void iconWanted();
};
