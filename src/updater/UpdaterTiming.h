#pragma once

// The updater's pacing. Tests shorten it; the program uses the defaults.
struct UpdaterTiming {
    int checkIntervalMs = 100; // between two looks for the main program
    int maxChecks = 101;       // then the swap goes ahead all the same
    int swapPauseMs = 1000;    // before each entry is put in place
    int minShownMs = 5000;     // the window stays at least this long
};
