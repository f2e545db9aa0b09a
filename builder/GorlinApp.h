// Start of the builder program: the application object, the dialog run
// modally, and the one failure that arises before the dialog exists.
#pragma once

#include "builder/GorlinDlg.h"

#include <memory>

// The dialog, or null when the TIM library or one of its entry points is
// missing; the binder's text has then been shown through prompts.
std::unique_ptr<CGorlinDlg> CreateGorlinDlg(IGorlinPrompts& prompts,
                                            const char* timLibrary = "QelTimInfo.dll");

// The program: runs the dialog until it closes. 0 when it closed, 1 when the
// TIM library could not be bound, 2 for a bad command line.
int RunGorlin(int argc, char** argv);
