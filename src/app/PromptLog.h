#pragma once

#include <QString>

// For tests of the whole program, in builds with VESMORA_TEST_SEAMS: with VESMORA_PROMPT_LOG
// naming a file, every message box is written to it and answered No, and where the login window
// would open the program writes "login" and ends.
namespace prompt_log {

// The file, or the empty text when prompts go to the screen.
QString wanted();

// Every message box from now on is appended to the file as "message: <text>" and answered No.
void start(const QString& path);

// Appends "login".
void loginReached(const QString& path);

} // namespace prompt_log
