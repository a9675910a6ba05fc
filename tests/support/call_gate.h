// Holds one sector transfer call of the program under test at its start, so
// that a test can act while that call is in progress instead of guessing from
// an earlier side effect (a pane line, a trace line) that it has begun.
//
// Programs linking kt_call_gate have their kt62ScsiRead10 and kt62ScsiWrite10
// calls pass through the gate (the linker's --wrap); with nothing held, a call
// goes straight on to the library.
#pragma once

#include <cstdint>
#include <string>

namespace kt::test::call_gate {

// The next call of `function` ("kt62ScsiRead10" or "kt62ScsiWrite10") whose
// first sector is `lba` waits on entry until Release().
void Hold(const std::string& function, std::uint32_t lba);
// Whether the held call has begun and is waiting.
bool Entered();
// Lets the held call go on to the library; nothing is held afterwards.
void Release();

}  // namespace kt::test::call_gate
