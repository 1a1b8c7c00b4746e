#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

std::system_error posixError(int err)
{
    // Anything outside the known range of errno values is reported as an I/O error.
    if (err <= 0 || err >= 4096) err = EIO;
    return std::system_error(err, std::generic_category());
}

void throwPosix(int err) { throw posixError(err); }

void throwErrno() { throwPosix(errno); }

TessynError validationError()
{
    return TessynError("Tessyn", 1, "文件已变化、已移动或超出扫描范围，请重新扫描。");
}

std::string errorDescription(const std::exception& error)
{
    if (auto* sys = dynamic_cast<const std::system_error*>(&error)) {
        // Tessyn only renames, so a move between two mounts of one file system (a folder
        // reached through a bind mount) fails; the system's own words name no cause.
        if (sys->code() == std::errc::cross_device_link)
            return "项目与目标位置不在同一挂载点（例如经绑定挂载访问的文件夹），无法直接移动；Tessyn 不会复制文件，项目仍在原处。";
        return sys->code().message();
    }
    return error.what();
}
