#pragma once
#include <stdexcept>
#include <string>
#include <system_error>

// Tessyn's own refusals: a domain, a small code and the complete user-facing text (Chinese).
class TessynError : public std::runtime_error {
public:
    TessynError(std::string domain, int code, const std::string& message)
        : std::runtime_error(message), domain_(std::move(domain)), code_(code) {}
    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    std::string message() const { return what(); }

private:
    std::string domain_;
    int code_;
};

// A system failure carrying a POSIX code; its text is the platform's text for that code.
// Codes the platform does not know become EIO.
std::system_error posixError(int err);
[[noreturn]] void throwPosix(int err);
[[noreturn]] void throwErrno();

// The file changed, moved or left the scanned folder (domain "Tessyn", code 1).
TessynError validationError();

// The user-facing text of any failure: the system's text for its code, but for codes the
// interface words itself (EXDEV).
std::string errorDescription(const std::exception& error);
