#include "update/UpdateHooks.h"

#include "update/SoftwareUpdateController.h"

ShellHooks::Update updateHooks()
{
    ShellHooks::Update hooks;
    hooks.checkFromMenu = [] { SoftwareUpdateController::shared().checkFromMenu(); };
    hooks.checkAtStartUp = [] {
        // The shared controller leaves idle with its first check, so later windows skip it.
        SoftwareUpdateController& updates = SoftwareUpdateController::shared();
        if (updates.state() == SoftwareUpdateController::State::idle) updates.check();
    };
    return hooks;
}
