#include "update/SoftwareUpdateController.h"

SoftwareUpdateController& SoftwareUpdateController::shared()
{
    static SoftwareUpdateController* controller = new SoftwareUpdateController();
    return *controller;
}

void SoftwareUpdateController::check() {}

void SoftwareUpdateController::checkFromMenu() {}
