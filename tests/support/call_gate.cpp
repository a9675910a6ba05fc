#include "tests/support/call_gate.h"

#include <kt62/apiKT6200.h>

#include <condition_variable>
#include <mutex>
#include <optional>

namespace kt::test::call_gate {
namespace {

std::mutex mutex;
std::condition_variable changed;
std::optional<std::pair<std::string, std::uint32_t>> held;  // function and first sector
bool entered = false;

void Pass(const char* function, std::uint32_t lba) {
    std::unique_lock lock(mutex);
    if (!held || held->first != function || held->second != lba || entered) return;
    entered = true;
    changed.wait(lock, [] { return !held; });
}

}  // namespace

void Hold(const std::string& function, std::uint32_t lba) {
    const std::lock_guard lock(mutex);
    held = {function, lba}, entered = false;
}

bool Entered() {
    const std::lock_guard lock(mutex);
    return held && entered;
}

void Release() {
    const std::lock_guard lock(mutex);
    held.reset(), entered = false;
    changed.notify_all();
}

}  // namespace kt::test::call_gate

// The linker names these (--wrap); they cannot avoid reserved identifiers.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int32_t __real_kt62ScsiRead10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer,
                              uint32_t count);
int32_t __real_kt62ScsiWrite10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                               uint32_t count);
int32_t __wrap_kt62ScsiRead10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer,
                              uint32_t count) {
    kt::test::call_gate::Pass("kt62ScsiRead10", lba);
    return __real_kt62ScsiRead10(h, lba, bytes_per_sector, buffer, count);
}
int32_t __wrap_kt62ScsiWrite10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                               uint32_t count) {
    kt::test::call_gate::Pass("kt62ScsiWrite10", lba);
    return __real_kt62ScsiWrite10(h, lba, bytes_per_sector, buffer, count);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
