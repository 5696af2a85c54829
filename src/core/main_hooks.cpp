#include "core/main_hooks.h"

MainHookTable MainHooks;
