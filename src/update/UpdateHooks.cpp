#include "update/UpdateHooks.h"

#include "update/SoftwareUpdateController.h"

ShellHooks::Update updateHooks()
{
    ShellHooks::Update hooks;
    hooks.checkFromMenu = [] { SoftwareUpdateController::shared().checkFromMenu(); };
    // The shared controller leaves idle with its first check, so later windows skip it.
    hooks.checkAtStartUp = [] { SoftwareUpdateController::shared().checkAtLaunch(); };
    return hooks;
}
