#pragma once

class QCoreApplication;

// Loads Qt's own Chinese (PRC) texts: standard buttons, the file dialog, the browser's menus.
// Looks in Qt's translation folder, then in "translations" beside the program. Returns how many
// catalogues were installed.
int installChineseTranslations(QCoreApplication* app);
