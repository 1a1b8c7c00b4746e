#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kWriter = std::string(TESSYN_FIXTURE_DIR) + "/fixture-store_writer";

pid_t startWriter(const std::string& folder, int stderrFd)
{
    pid_t pid = fork();
    if (pid == 0) {
        dup2(stderrFd, STDERR_FILENO);
        execl(kWriter.c_str(), kWriter.c_str(), "loop", folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

} // namespace

// A writer killed at any moment leaves a journal and a history that both decode, and never
// loses records that were already saved.
TEST(StoreCrash, KilledWriterNeverLeavesAnUndecodableStore)
{
    TempHome home;
    const std::string errors = home.path("writer-errors.txt");
    int errorFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errorFd, 0);

    // How long the writer takes to start and save once here (sanitizer builds start slowly),
    // so the kills are spread over its writing rather than its start-up.
    const std::string probe = home.path("probe");
    makeDirs(probe);
    auto started = std::chrono::steady_clock::now();
    pid_t first = startWriter(probe, errorFd);
    while (access((probe + "/operations.json").c_str(), F_OK) != 0
           && std::chrono::steady_clock::now() - started < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    auto startUp = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<long> delayUs(startUp.count() / 2, startUp.count() + 40000);

    const int kRounds = 160;
    int withHistory = 0, withJournal = 0;
    size_t mostRecords = 0;
    std::string folder;
    size_t lastCount = 0;
    for (int round = 0; round < kRounds; ++round) {
        if (round % 40 == 0) {
            folder = home.path("run-" + std::to_string(round));
            makeDirs(folder);
            lastCount = 0;
        }
        pid_t pid = startWriter(folder, errorFd);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(rng))); // the moment of the kill
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the writer stopped by itself in round " << round << ": " << readFile(errors);

        const std::string historyPath = folder + "/operations.json";
        const std::string journalPath = folder + "/pending-actions.json";
        if (access(historyPath.c_str(), F_OK) == 0) {
            ++withHistory;
            std::vector<Operation> history;
            ASSERT_NO_THROW(history = decodeHistory(readFile(historyPath)))
                << "round " << round << ": " << readFile(historyPath).size() << " bytes";
            EXPECT_GE(history.size(), lastCount) << "saved records were lost in round " << round;
            lastCount = history.size();
            mostRecords = std::max(mostRecords, history.size());
        }
        if (access(journalPath.c_str(), F_OK) == 0) {
            ++withJournal;
            OperationJournal journal(journalPath);
            ASSERT_NO_THROW(journal.entries()) << "round " << round << ": " << readFile(journalPath);
        }
        HistoryStore store(historyPath, std::make_shared<OperationJournal>(journalPath));
        ASSERT_EQ(store.load(), std::nullopt) << "round " << round;
    }
    close(errorFd);
    // The kills must have landed while the stores were being written, not only before.
    EXPECT_GT(withHistory, kRounds / 2);
    EXPECT_GT(withJournal, kRounds / 2);
    EXPECT_GT(mostRecords, 10u);
    std::printf("[ measured ] writer start-up %.1f ms; %d rounds, history present after %d, journal after %d, "
                "up to %zu records\n", startUp.count() / 1000.0, kRounds, withHistory, withJournal, mostRecords);
}

// Each replacement is flushed before it is renamed into place, and the folder is flushed after,
// so a power loss leaves the old file or the complete new one, never an empty file.
TEST(StoreCrash, ReplacementsAreFlushedInOrder)
{
    TempHome home;
    const std::string folder = home.path("Tessyn");
    makeDirs(folder);
    CommandResult run = runCommand(shellQuote(kWriter) + " trace " + shellQuote(folder));
    ASSERT_EQ(run.status, 0) << run.output;
    auto events = lines(run.output);

    auto checkReplacement = [&](size_t& at, const std::string& name) {
        const std::string temp = "fsync " + folder + "/." + name + ".tmp-";
        ASSERT_LT(at, events.size()) << name;
        ASSERT_EQ(events[at].rfind(temp, 0), 0u) << "expected the temporary " << name << " flushed: " << events[at];
        std::string tempPath = events[at].substr(6);
        ASSERT_LT(at + 2, events.size()) << name;
        EXPECT_EQ(events[at + 1], "rename " + tempPath + " " + folder + "/" + name);
        EXPECT_EQ(events[at + 2], "fsync " + folder);
        at += 3;
    };
    size_t at = 0;
    ASSERT_EQ(events.at(at++), "record");
    checkReplacement(at, "pending-actions.json");
    ASSERT_EQ(events.at(at++), "save");
    checkReplacement(at, "operations.json");
    checkReplacement(at, "pending-actions.json");
    EXPECT_EQ(at, events.size()) << run.output;
}
