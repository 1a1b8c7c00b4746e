#pragma once
#include <exception>

// Raised by an engine step that noticed its stop request; callers treat it as "stopped",
// never as a failure to report.
struct CancellationError : std::exception {
    const char* what() const noexcept override { return "操作已取消。"; }
};
