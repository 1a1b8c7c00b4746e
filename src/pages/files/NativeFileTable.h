#pragma once
#include "engine/FileEntry.h"
#include "engine/FilePresentation.h"
#include "services/Localization.h"
#include "shell/controls/RowButtonTracker.h"

#include <QTableView>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

using FileList = std::shared_ptr<const std::vector<FileEntry>>;
using FilePresentationMap = std::unordered_map<std::string, FilePresentation>;
using PathSelection = std::set<std::string>;

class FileTableModel;
class FileTableDelegate;

// The results table of the files page: one 44-pixel row per file with its name over its
// folder, its size, its date and two row buttons (preview, show in the file manager), painted
// by a delegate so a million rows cost no widgets. Its selection mirrors a set of paths that
// the owner keeps: user changes are merged into that set (selected paths that are not listed
// here stay selected) and announced; a set handed in selects the matching rows silently.
// While a file action is processing, rows cannot be selected and the row buttons are off.
// From the keyboard the table is one stop in the focus chain: the arrows move the current row
// without touching the selection, Space selects or deselects that row, Return previews it and
// Ctrl+Return shows it in the file manager; the context menu offers the same two actions.
class NativeFileTable : public QTableView {
    Q_OBJECT
public:
    enum Column { fileColumn = 0, sizeColumn, dateColumn, actionsColumn, columnCount };
    enum RowButton { previewButton = 0, revealButton };
    // Item-data role of the second line of the name cell (the parent folder).
    static constexpr int parentRole = Qt::UserRole + 1;

    explicit NativeFileTable(QWidget* parent = nullptr);
    ~NativeFileTable() override;

    // Everything the table shows, in one step: the columns are retitled, the rows reloaded
    // only when the rows, presentation, language or processing state changed, and the
    // selected rows made to match `selection` without announcing it.
    void apply(FileList files, FilePresentationMap presentation, PathSelection selection, bool processing,
               AppLanguage language);
    void setFiles(FileList files);
    void setFiles(std::vector<FileEntry> files);
    void setPresentation(FilePresentationMap presentation);
    void setPathSelection(PathSelection selection);
    void setProcessing(bool processing);
    // The table follows the stored interface language by itself; this sets it directly.
    void setLanguage(AppLanguage language);

    const std::vector<FileEntry>& files() const;
    const FilePresentationMap& presentation() const;
    const PathSelection& pathSelection() const { return selection_; }
    bool processing() const;
    AppLanguage language() const;
    // How many times the rows were reloaded since the table was made.
    int reloadCount() const;

    void setPreviewHandler(std::function<void(const std::string& path)> handler) { preview_ = std::move(handler); }
    void setRevealHandler(std::function<void(const std::string& path)> handler) { reveal_ = std::move(handler); }

    // Where a row button is drawn, in viewport coordinates; empty when the row is not shown.
    QRect rowButtonRect(int row, RowButton button) const;
    // The untranslated title of a row button.
    static QString rowButtonTitle(RowButton button);
    // The row button's action for the current row, with its shortcut: the same action that the
    // context menu offers for the row it was opened on.
    QAction* rowAction(RowButton button) const { return rowActions_[button]; }

    void selectAll() override;

signals:
    // The user changed the selected rows; `selection` is the merged set of paths.
    void pathSelectionChanged(const PathSelection& selection);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class FileTableDelegate;

    FileTableModel* model_ = nullptr;
    FileTableDelegate* delegate_ = nullptr;
    PathSelection selection_;
    bool updating_ = false;
    std::function<void(const std::string&)> preview_;
    std::function<void(const std::string&)> reveal_;
    RowButtonTracker* buttons_ = nullptr;
    QAction* rowActions_[2] = {nullptr, nullptr};
    // The file a context menu is open for; the actions take the current row otherwise.
    std::optional<std::string> menuPath_;

    // Open-addressing table from path to row, built on first need for the current rows; a
    // million rows index in about 80 ms, where std::unordered_map (even with its nodes from one
    // arena) takes 220-300 ms, a pause the user would see on the first selection.
    struct Slot {
        uint32_t row = 0;   // row + 1; 0 = free
        uint32_t hash = 0;  // high bits of the path's hash, checked before the path
    };
    std::vector<Slot> slots_;
    bool indexed_ = false;
    bool duplicatePaths_ = false;

    void ensureIndex();
    // The first row holding the path, or -1.
    int rowOf(std::string_view path) const;
    std::vector<int> rowsFor(const PathSelection& selection);
    void syncSelection();
    void userSelectionChanged();
    std::optional<RowButtonHit> buttonAt(const QPoint& viewportPos) const;
    void trigger(int row, RowButton button);
    void retitleRowActions();
    // The row of the file the context menu is open for, -1 once it is no longer listed.
    int menuRow();
};
