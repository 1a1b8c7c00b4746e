#pragma once
#include <string>
#include <utility>

// The exclusive, non-blocking lock around every read-modify-write of a store file. The lock
// file is the store's path with ".lock" appended: created empty with mode 0600 on first use,
// never written, never removed. The lock belongs to the open file description, so a second
// open in this process is shut out too; in-process callers serialise before they get here.
namespace LocalStoreLock {

// Opens and locks "<storePath>.lock" and returns its descriptor. Throws std::system_error
// with errno: ELOOP when the lock path is a symbolic link, EWOULDBLOCK when the lock is held.
int acquire(const std::string& storePath);
// Unlocks and closes a descriptor from acquire.
void release(int fd) noexcept;

// Runs body under the lock and returns its result. Never waits: when the lock cannot be
// taken the body does not run and the POSIX error is thrown. The lock is released however
// the body ends; the body's own exception propagates unchanged.
template <class Body>
decltype(auto) perform(const std::string& storePath, Body&& body)
{
    struct Held {
        int fd;
        ~Held() { release(fd); }
    } held{acquire(storePath)};
    return std::forward<Body>(body)();
}

} // namespace LocalStoreLock
