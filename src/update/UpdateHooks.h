#pragma once
#include "shell/app/ShellHooks.h"

// The software update's part in the shell: the menu's check and the check made when a main
// view first shows, both on the shared controller.
ShellHooks::Update updateHooks();
