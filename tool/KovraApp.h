// Start of the programming tool: the application object, the main dialog run
// modally, and the failures that arise before it can work.
#pragma once

#include "tool/KovraDlg.h"

#include <memory>

// The dialog, or null when the TIM library or the engine could not be bound;
// the messages have then been shown through prompts.
std::unique_ptr<CKovraDlg> CreateKovraDlg(IKovraPrompts& prompts,
                                          const KovraLibraries& libraries = {});

// The program: 0 when the dialog closed, 1 when a library could not be bound
// or the engine not opened, 2 for a bad command line.
int RunKovra(int argc, char** argv);
