#pragma once

class QApplication;

// What both builds of the main program set up before the first window: name, icon, Qt's Chinese
// texts, the Chinese face, and that the windows, not the last one closing, decide the end.
void setUpApplication(QApplication& app);
