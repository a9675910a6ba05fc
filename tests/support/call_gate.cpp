#include "tests/support/call_gate.h"

#include <kt62/apiKT6200.h>

#include <condition_variable>
#include <mutex>
#include <optional>

// The linker names these (--wrap); they cannot avoid reserved identifiers.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int32_t __real_kt62ScsiRead10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, uint8_t* buffer,
                              uint32_t count);
int32_t __real_kt62ScsiWrite10(KT62_HANDLE h, uint32_t lba, uint32_t bytes_per_sector, const uint8_t* buffer,
                               uint32_t count);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace kt::test::call_gate {
namespace {

struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> function;
    std::uint32_t lba = 0;
    bool entered = false;
};

Gate& TheGate() {
    static Gate gate;
    return gate;
}

void Pass(const char* function, std::uint32_t lba) {
    Gate& g = TheGate();
    std::unique_lock lock(g.mutex);
    if (!g.function || *g.function != function || g.lba != lba || g.entered) return;
    g.entered = true;
    g.changed.wait(lock, [&] { return !g.function; });
}

}  // namespace

void Hold(const std::string& function, std::uint32_t lba) {
    Gate& g = TheGate();
    std::lock_guard lock(g.mutex);
    g.function = function;
    g.lba = lba;
    g.entered = false;
}

bool Entered() {
    Gate& g = TheGate();
    std::lock_guard lock(g.mutex);
    return g.function && g.entered;
}

void Release() {
    Gate& g = TheGate();
    std::lock_guard lock(g.mutex);
    g.function.reset();
    g.entered = false;
    g.changed.notify_all();
}

}  // namespace kt::test::call_gate

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
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
