#include "shell/app/ShellHooks.h"

namespace {

ShellHooks& installedHooks()
{
    static ShellHooks hooks;
    return hooks;
}

} // namespace

void installShellHooks(ShellHooks hooks) { installedHooks() = std::move(hooks); }

const ShellHooks& shellHooks() { return installedHooks(); }
