// The one-step reports' failure line now lives with every other failure text;
// this header stays until the handlers include common/failure_text.h.
#pragma once

#include "common/failure_text.h"
