// Holds a sector call (link kt_call_gate) so a test acts during it instead of guessing from a side effect.
#pragma once

#include <cstdint>
#include <string>

namespace kt::test::call_gate {

// The next call of `function` (kt62ScsiRead10 or kt62ScsiWrite10) at `lba` waits until Release().
void Hold(const std::string& function, std::uint32_t lba);
bool Entered();  // the held call has begun and waits
void Release();

}  // namespace kt::test::call_gate
