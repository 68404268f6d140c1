#pragma once

// For tests of the whole program, in builds with VESMORA_TEST_SEAMS: with VESMORA_PROMPT_LOG
// naming a file, every message box is written to it and answered No, and where the login window
// would open the program writes "login" and ends.
namespace prompt_log {

// From now on, when asked for: every message box is appended to the file as "message: <text>"
// and answered No.
void startIfWanted();

// When asked for: appends "login", ends the program from the event loop and returns true.
bool endAtLogin();

} // namespace prompt_log
