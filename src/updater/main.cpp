#include "common/ProgramFolder.h"
#include "common/ui/AppIcon.h"
#include "updater/ui/FrmLoad.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(appIcon());
    FrmLoad window(Lj());
#ifdef VESMORA_TEST_SEAMS
    // Ends the process at once after the given step, with no clean-up at all, as a kill would.
    bool stopping = false;
    const int stopAfter = qEnvironmentVariableIntValue("VESMORA_UPDATER_STOP_AFTER", &stopping);
    if (stopping) {
        window.setStepHook([stopAfter](int step) {
            if (step == stopAfter)
                std::_Exit(9);
        });
    }
    if (qEnvironmentVariableIsSet("VESMORA_UPDATER_QUICK"))
        window.setTiming({10, 101, 0, 0});
#endif
    QObject::connect(&window, &FrmLoad::ended, &app, [] { QCoreApplication::exit(0); });
    window.start();
    return app.exec();
}
