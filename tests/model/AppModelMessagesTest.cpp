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

using Step = std::function<void(const ModelHome&, AppModel&)>;
using Start = std::unique_ptr<AppModel> (*)(const ModelHome&);

Texts startedModel(const ModelHome& env) { return published(*env.model()); }

void settle(AppModel& model) { ASSERT_TRUE(waitFor([&] { return !model.processing(); })); }

std::unique_ptr<AppModel> selected(const ModelHome& env)
{
    auto model = env.scannedModel(1);
    AppModel::PathSet all;
    for (const FileEntry& file : model->report()->files) all.insert(file.path);
    model->setSelection(all);
    return model;
}

void trash(AppModel& model) { model.trashSelected(); settle(model); }
void restoreFirst(AppModel& model) { model.restore(model.history()[0]); settle(model); }

// History holds one moved file, really in the Trash.
std::unique_ptr<AppModel> moved(const ModelHome& env)
{
    auto model = selected(env);
    trash(*model);
    return model;
}

// The journal holds an interrupted move, noted at start-up.
std::unique_ptr<AppModel> interrupted(const ModelHome& env)
{
    env.journal()->record(movedRecord("/data/moving.txt", 10, false), OperationJournal::kMoving);
    return env.model();
}

// `expected`: the Chinese text one of the published texts starts with, so the path was taken.
struct StartCase {
    const char* name;
    std::string expected;
    std::function<Texts(const ModelHome&)> publish;
};
struct StepCase {
    const char* name;
    std::string expected;
    Start start;
    Step step;
};

} // namespace

// Every path that builds a message or a note, with stores corrupt, unreadable or locked and
// saves and clears failing: under English the user reads no Chinese.
TEST(AppModelMessages, EveryMessageAndNoteReadsInEnglish)
{
    const LocalizationCatalog catalog =
        LocalizationCatalog::fromFile(std::string(TESSYN_SOURCE_DIR) + "/resources/Localization/en.json");
    ASSERT_FALSE(catalog.empty());

    const StartCase startCases[] = {
        {"store folder cannot be created", "无法创建操作记录目录：",
         [](const ModelHome& env) { writeFile(env.storeFolder(), "a file where the folder belongs"); return startedModel(env); }},
        {"corrupt history", "操作记录无法读取；下次保存前会保留原文件副本。数据格式不正确",
         [](const ModelHome& env) { writeFile(env.historyPath(), "{\"not\": \"a list\"}"); return startedModel(env); }},
        {"folder in the history's place", "操作记录无法读取；下次保存前会保留原文件副本。",
         [](const ModelHome& env) { makeDirs(env.historyPath()); return startedModel(env); }},
        {"unreadable history", "操作记录无法读取；下次保存前会保留原文件副本。",
         [](const ModelHome& env) {
             writeFile(env.historyPath(), "[]");
             chmod(env.historyPath().c_str(), 0);
             return publishedAsNobody([&] { return startedModel(env); });
         }},
        {"corrupt journal", "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：数据格式不正确",
         [](const ModelHome& env) { writeFile(env.journalPath(), "[{\"phase\": \"moving\"}]"); return startedModel(env); }},
        {"unreadable journal", "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：",
         [](const ModelHome& env) {
             env.journal()->record(movedRecord("/data/a.txt", 10, false), OperationJournal::kMoving);
             chmod(env.journalPath().c_str(), 0);
             return publishedAsNobody([&] { return startedModel(env); });
         }},
        {"interrupted and finished entries", "已从操作回执补全记录",
         [](const ModelHome& env) {
             auto journal = env.journal();
             journal->record(movedRecord("/data/moving.txt", 10, false), OperationJournal::kMoving);
             journal->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
             return startedModel(env);
         }},
        {"merged entries while the history is locked", "恢复记录保存失败：",
         [](const ModelHome& env) {
             env.journal()->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
             HeldLock held(env.historyPath());
             return startedModel(env);
         }},
        {"journal locked at start-up", "操作日志无法读取，已保留原文件；新的移入废纸篓操作将停止：",
         [](const ModelHome& env) {
             env.journal()->record(movedRecord("/data/done.txt", 20), OperationJournal::kFinished);
             HeldLock held(env.journalPath());
             return startedModel(env);
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

    const StepCase stepCases[] = {
        {"trash run whose history cannot be saved", "已处理 1 项，失败 0 项。", selected,
         [](const ModelHome& env, AppModel& model) { HeldLock held(env.historyPath()); trash(model); }},
        {"trash run with a failed file", "已处理 0 项，失败 1 项。", selected,
         [](const ModelHome&, AppModel& model) {
             writeFile(model.report()->files[0].path, "changed since the scan, and longer");
             trash(model);
         }},
        {"restore of an item the Trash no longer holds", "恢复失败：", moved,
         [](const ModelHome&, AppModel& model) { std::filesystem::remove(*model.history()[0].trashPath); restoreFirst(model); }},
        {"restore to an occupied place", "恢复失败：", moved,
         [](const ModelHome&, AppModel& model) { writeFile(model.history()[0].path, "a new file at the old place"); restoreFirst(model); }},
        {"restore while the journal is locked", "恢复失败：", moved,
         [](const ModelHome& env, AppModel& model) { HeldLock held(env.journalPath()); restoreFirst(model); }},
        {"restore with a corrupt journal", "恢复失败：", moved,
         [](const ModelHome& env, AppModel& model) { writeFile(env.journalPath(), "garbage"); restoreFirst(model); }},
        {"restore whose history cannot be saved", "已恢复到原位置。", moved,
         [](const ModelHome& env, AppModel& model) { HeldLock held(env.historyPath()); restoreFirst(model); }},
        {"clear while the history is locked", "记录清除保存失败：", moved,
         [](const ModelHome& env, AppModel& model) { HeldLock held(env.historyPath()); model.clearHistory(); }},
        {"clear while the journal is locked", "记录清除保存失败：", moved,
         [](const ModelHome& env, AppModel& model) { HeldLock held(env.journalPath()); model.clearHistory(); }},
        {"acknowledge while the journal is locked", "无法清除中断日志，原文件已保留：", interrupted,
         [](const ModelHome& env, AppModel& model) { HeldLock held(env.journalPath()); model.acknowledgeInterruptedActions(); }},
        {"acknowledge with a corrupt journal", "无法清除中断日志，原文件已保留：", interrupted,
         [](const ModelHome& env, AppModel& model) { writeFile(env.journalPath(), "garbage"); model.acknowledgeInterruptedActions(); }},
        {"acknowledge", "已清除已核对的中断提示", interrupted,
         [](const ModelHome&, AppModel& model) { model.acknowledgeInterruptedActions(); }},
    };

    auto check = [&](const std::string& expected, const Texts& texts) {
        std::string all;
        for (const std::string& text : texts) all += "\n  " + text;
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& text) { return text.rfind(expected, 0) == 0; }))
            << "expected a text starting with " << expected << ", published:" << all;
        for (const std::string& text : texts) {
            std::string english = L(text, AppLanguage::english, catalog);
            EXPECT_FALSE(containsCJKIdeograph(english)) << text << "\n -> " << english;
        }
    };
    for (const StartCase& c : startCases) {
        SCOPED_TRACE(c.name);
        ModelHome env;
        check(c.expected, c.publish(env));
    }
    for (const StepCase& c : stepCases) {
        SCOPED_TRACE(c.name);
        ModelHome env;
        auto model = c.start(env);
        c.step(env, *model);
        check(c.expected, published(*model));
    }
    {
        SCOPED_TRACE("quit while a move runs");
        ModelHome env;
        auto model = selected(env);
        model->trashSelected();
        model->prepareToQuit();
        check("文件处理尚未完成", published(*model));
        EXPECT_TRUE(waitFor([&] { return !model->processing(); }));
    }
}
