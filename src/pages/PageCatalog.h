#pragma once
#include "shell/window/PageContent.h"

// The pages of the program, for the shell's windows.
PageFactory tessynPages();
