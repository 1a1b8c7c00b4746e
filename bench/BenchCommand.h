#pragma once
#include <functional>
#include <string>
#include <vector>

// One subcommand of tessyn-bench. Each bench/cmd_*.cpp defines a static BenchCommand.
struct BenchCommand {
    using Run = std::function<int(const std::vector<std::string>& args)>;
    BenchCommand(const char* name, const char* usage, Run run);
};

// Whether `flag` is among the arguments, and the value that follows an option.
bool hasFlag(const std::vector<std::string>& args, const std::string& flag);
std::string optionValue(const std::vector<std::string>& args, const std::string& option, const std::string& fallback = {});
// The arguments that are neither flags nor option values of `optionsWithValues`.
std::vector<std::string> positional(const std::vector<std::string>& args, const std::vector<std::string>& optionsWithValues = {});
// Seconds on a monotonic clock.
double monotonicSeconds();
// Bytes this process has handed to write(2) so far (/proc/self/io), -1 when unknown.
long long writtenBytes();
// Size of a file, 0 when it does not exist.
long long fileSize(const std::string& path);
