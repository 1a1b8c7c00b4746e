#include "ModelTestSupport.h"

#include "HeldLock.h"
#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"
#include "services/Localization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Texts = std::vector<std::string>;

// What the user reads of the model: its message and its recovery notes.
Texts published(const AppModel& model)
{
    Texts texts = model.recoveryNotes();
    if (model.message()) texts.push_back(*model.message());
    return texts;
}

// Runs `publish` in a child that has dropped to an unprivileged user, and returns what it
// published (root would read and write the stores whatever their permission bits).
Texts publishedAsNobody(const std::function<Texts()>& publish)
{
    int channel[2];
    if (pipe(channel) != 0) return {};
    int status = runAsNobody([&] {
        close(channel[0]);
        for (const std::string& text : publish()) {
            std::string item = text + '\0';
            if (write(channel[1], item.data(), item.size()) != static_cast<ssize_t>(item.size())) return 1;
        }
        return 0;
    });
    close(channel[1]);
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(n));
    close(channel[0]);
    EXPECT_EQ(status, 0) << "the unprivileged child";
    Texts texts;
    for (size_t at = 0, end; (end = all.find('\0', at)) != std::string::npos; at = end + 1)
        texts.push_back(all.substr(at, end - at));
    return texts;
}

void selectAll(AppModel& model)
{
    AppModel::PathSet all;
    for (const FileEntry& file : model.report()->files) all.insert(file.path);
    model.setSelection(all);
}

void runTrash(AppModel& model)
{
    model.trashSelected();
    ASSERT_TRUE(waitFor([&] { return !model.processing(); }));
}

void runRestore(AppModel& model, const Operation& record)
{
    model.restore(record);
    ASSERT_TRUE(waitFor([&] { return !model.processing(); }));
}

// A model whose history holds one moved file, really in the Trash.
std::unique_ptr<AppModel> modelWithOneMove(const ModelHome& env)
{
    auto model = env.scannedModel(1);
    selectAll(*model);
    runTrash(*model);
    return model;
}

// A model whose journal holds an interrupted move, noted at start-up.
std::unique_ptr<AppModel> modelWithInterruption(const ModelHome& env)
{
    env.journal()->record(movedRecord("/data/moving.txt", 10, false), OperationJournal::kMoving);
    return env.model();
}

struct Case {
    const char* name;
    // The Chinese text one of the published texts starts with: the path was really taken.
    std::string expected;
    std::function<Texts(const ModelHome&)> publish;
};

} // namespace

// Every path that builds a message or a note, with stores corrupt, unreadable or locked and
// saves and clears failing: under English the user reads no Chinese.
TEST(AppModelMessages, EveryMessageAndNoteReadsInEnglish)
{
    const LocalizationCatalog catalog =
        LocalizationCatalog::fromFile(std::string(TESSYN_SOURCE_DIR) + "/resources/Localization/en.json");
    ASSERT_FALSE(catalog.empty());

    const Case cases[] = {
        {"store folder cannot be created", "无法创建操作记录目录：",
         [](const ModelHome& env) {
             writeFile(env.storeFolder(), "a file where the folder belongs");
             return published(*env.model());
         }},
        {"corrupt history", "操作记录无法读取；下次保存前会保留原文件副本。数据格式不正确",
         [](const ModelHome& env) {
             writeFile(env.historyPath(), "{\"not\": \"a list\"}");
             return published(*env.model());
         }},
        {"folder in the history's place", "操作记录无法读取；下次保存前会保留原文件副本。",
         [](const ModelHome& env) {
             makeDirs(env.historyPath());
             return published(*env.model());
         }},
        {"unreadable history", "操作记录无法读取；下次保存前会保留原文件副本。",
         [](const ModelHome& env) {
             writeFile(env.historyPath(), "[]");
             chmod(env.historyPath().c_str(), 0);
             return publishedAsNobody([&] { return published(*env.model()); });
         }},
        {"corrupt journal", "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：数据格式不正确",
         [](const ModelHome& env) {
             writeFile(env.journalPath(), "[{\"phase\": \"moving\"}]");
             return published(*env.model());
         }},
        {"unreadable journal", "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：",
         [](const ModelHome& env) {
             env.journal()->record(movedRecord("/data/a.txt", 10, false), OperationJournal::kMoving);
             chmod(env.journalPath().c_str(), 0);
             return publishedAsNobody([&] { return published(*env.model()); });
         }},
        {"interrupted and finished entries", "已从操作回执补全记录",
         [](const ModelHome& env) {
             auto journal = env.journal();
             journal->record(movedRecord("/data/moving.txt", 10, false), OperationJournal::kMoving);
             journal->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
             return published(*env.model());
         }},
        {"merged entries while the history is locked", "恢复记录保存失败：",
         [](const ModelHome& env) {
             env.journal()->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
             HeldLock held(env.historyPath());
             return published(*env.model());
         }},
        {"journal locked at start-up", "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：",
         [](const ModelHome& env) {
             env.journal()->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
             HeldLock held(env.journalPath());
             return published(*env.model());
         }},
        {"trash run whose history cannot be saved", "已处理 1 项，失败 0 项。",
         [](const ModelHome& env) {
             auto model = env.scannedModel(1);
             selectAll(*model);
             HeldLock held(env.historyPath());
             runTrash(*model);
             return published(*model);
         }},
        {"trash run with a failed file", "已处理 0 项，失败 1 项。",
         [](const ModelHome& env) {
             auto model = env.scannedModel(1);
             selectAll(*model);
             writeFile(model->report()->files[0].path, "changed since the scan, and longer");
             runTrash(*model);
             return published(*model);
         }},
        {"quit while a move runs", "文件处理尚未完成",
         [](const ModelHome& env) {
             auto model = env.scannedModel(1);
             selectAll(*model);
             model->trashSelected();
             model->prepareToQuit();
             Texts texts = published(*model);
             EXPECT_TRUE(waitFor([&] { return !model->processing(); }));
             return texts;
         }},
        {"restore of an item the Trash no longer holds", "恢复失败：",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             std::filesystem::remove(*model->history()[0].trashPath);
             runRestore(*model, model->history()[0]);
             return published(*model);
         }},
        {"restore to an occupied place", "恢复失败：",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             writeFile(model->history()[0].path, "a new file at the old place");
             runRestore(*model, model->history()[0]);
             return published(*model);
         }},
        {"restore while the journal is locked", "恢复失败：",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             HeldLock held(env.journalPath());
             runRestore(*model, model->history()[0]);
             return published(*model);
         }},
        {"restore with a corrupt journal", "恢复失败：",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             writeFile(env.journalPath(), "garbage");
             runRestore(*model, model->history()[0]);
             return published(*model);
         }},
        {"restore whose history cannot be saved", "已恢复到原位置。",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             HeldLock held(env.historyPath());
             runRestore(*model, model->history()[0]);
             return published(*model);
         }},
        {"clear while the history is locked", "记录清除保存失败：",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             HeldLock held(env.historyPath());
             model->clearHistory();
             return published(*model);
         }},
        {"clear while the journal is locked", "操作记录已保存，但操作日志未能更新：",
         [](const ModelHome& env) {
             auto model = modelWithOneMove(env);
             HeldLock held(env.journalPath());
             model->clearHistory();
             return published(*model);
         }},
        {"clear by a user who cannot write the store", "记录清除保存失败：",
         [](const ModelHome& env) {
             makeDirs(env.storeFolder());
             return publishedAsNobody([&] {
                 auto model = env.model();
                 model->clearHistory();
                 return published(*model);
             });
         }},
        {"acknowledge while the journal is locked", "无法清除中断日志，原文件已保留：",
         [](const ModelHome& env) {
             auto model = modelWithInterruption(env);
             HeldLock held(env.journalPath());
             model->acknowledgeInterruptedActions();
             return published(*model);
         }},
        {"acknowledge with a corrupt journal", "无法清除中断日志，原文件已保留：",
         [](const ModelHome& env) {
             auto model = modelWithInterruption(env);
             writeFile(env.journalPath(), "garbage");
             model->acknowledgeInterruptedActions();
             return published(*model);
         }},
        {"acknowledge", "已清除已核对的中断提示",
         [](const ModelHome& env) {
             auto model = modelWithInterruption(env);
             model->acknowledgeInterruptedActions();
             return published(*model);
         }},
        {"a protected folder chosen", "请选择普通文件夹",
         [](const ModelHome& env) {
             auto model = env.model(env.services("/"));
             model->choose();
             return published(*model);
         }},
        {"the own store folder chosen", "请选择普通文件夹",
         [](const ModelHome& env) {
             auto model = env.model(env.services(env.storeFolder()));
             model->choose();
             return published(*model);
         }},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHome env;
        Texts texts = c.publish(env);
        std::string all;
        for (const std::string& text : texts) all += "\n  " + text;
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                                [&](const std::string& text) { return text.rfind(c.expected, 0) == 0; }))
            << "expected a text starting with " << c.expected << ", published:" << all;
        for (const std::string& text : texts) {
            std::string english = L(text, AppLanguage::english, catalog);
            EXPECT_FALSE(containsCJKIdeograph(english)) << text << "\n -> " << english;
        }
    }
}
