#include "Standin.h"

std::string operatorHelp() { return "Operator maintenance system: (not yet)\n"; }

void installOperatorRoutes(httplib::Server&, const Flags&) {}
