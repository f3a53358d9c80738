// Engine set-up called by start-up: command-line variables and the preparation of the script.
#include "host/hooks.h"

namespace tx {

void createCommandLineVariables(const SString&, const std::vector<SString>&) {}

bool prepareEngine() { return true; }

}  // namespace tx
