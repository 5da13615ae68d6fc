// The one name the layers' shared library probe exports.
#include "common/api.h"

extern "C" PW_API int pw_layers_probe() { return 1; }
