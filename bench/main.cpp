#include "BenchCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace {
struct Entry {
    std::string usage;
    BenchCommand::Run run;
};
std::map<std::string, Entry>& registry()
{
    static std::map<std::string, Entry> commands;
    return commands;
}
} // namespace

BenchCommand::BenchCommand(const char* name, const char* usage, Run run)
{
    registry()[name] = Entry{usage, std::move(run)};
}

bool hasFlag(const std::vector<std::string>& args, const std::string& flag)
{
    return std::find(args.begin(), args.end(), flag) != args.end();
}

std::string optionValue(const std::vector<std::string>& args, const std::string& option, const std::string& fallback)
{
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == option) return args[i + 1];
    return fallback;
}

std::vector<std::string> positional(const std::vector<std::string>& args, const std::vector<std::string>& optionsWithValues)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (std::find(optionsWithValues.begin(), optionsWithValues.end(), args[i]) != optionsWithValues.end()) {
            ++i;
            continue;
        }
        if (args[i].rfind("--", 0) == 0) continue;
        out.push_back(args[i]);
    }
    return out;
}

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

long long writtenBytes()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return -1;
}

long long fileSize(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

int main(int argc, char** argv)
{
    if (argc < 2 || !registry().count(argv[1])) {
        std::fprintf(stderr, "usage: tessyn-bench COMMAND ...\n");
        for (const auto& [name, entry] : registry()) std::fprintf(stderr, "  %s\n", entry.usage.c_str());
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return registry()[argv[1]].run(args);
}
