#pragma once
#include "shell/PageContent.h"

// The pages of the program, for the shell's windows.
PageFactory tessynPages();
