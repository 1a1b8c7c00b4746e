#pragma once
// Helpers of the subcommands that drive the application model headless.
#include "model/AppModel.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>
#include <memory>
#include <string>

namespace ModelBench {

// The Qt application every model command runs inside.
inline std::unique_ptr<QCoreApplication> application()
{
    static int argc = 1;
    static char name[] = "tessyn-bench";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

// Runs the event loop until the condition holds; every change of the model arrives as an event.
template <class Condition>
void waitUntil(Condition condition)
{
    while (!condition()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Prints a possibly multi-line text with the label on each line.
inline void printLines(const char* label, const std::string& text)
{
    size_t start = 0;
    while (true) {
        size_t end = text.find('\n', start);
        std::printf("%s%s\n", label, text.substr(start, end == std::string::npos ? std::string::npos : end - start).c_str());
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

} // namespace ModelBench
