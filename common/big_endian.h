// The big-endian fields are read through the one helper every floor shares;
// this header stays until the handlers include encoding/big_endian.h.
#pragma once

#include "encoding/big_endian.h"
