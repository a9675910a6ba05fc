// Every handle-taking function of the library, called with harmless arguments,
// so that tests can check a property for all of them at once.
#pragma once

#include <kt62/apiKT6200.h>

#include <functional>
#include <string>
#include <vector>

namespace kt62test {

struct HandleCall {
    std::string name;
    std::function<int32_t(KT62_HANDLE)> call;
};

inline const std::vector<HandleCall>& AllHandleCalls() {
    static uint8_t buf[4096];
    static uint8_t b4[4], b16[16], b8[8];
    static uint32_t u1, u2;
    static const kt62_char16 path[] = {'f', 'w', '.', 'b', 'i', 'n', 0};
    static const std::vector<HandleCall> calls = {
        {"kt62Close", [](KT62_HANDLE h) { return kt62Close(h); }},
        {"kt62GetVersion", [](KT62_HANDLE h) { return kt62GetVersion(h, b4); }},
        {"kt62GetProduct", [](KT62_HANDLE h) { return kt62GetProduct(h, b4, b16, b8); }},
        {"kt62ScsiInquiry", [](KT62_HANDLE h) { return kt62ScsiInquiry(h, buf); }},
        {"kt62ScsiReadCapacity", [](KT62_HANDLE h) { return kt62ScsiReadCapacity(h, &u1, &u2); }},
        {"kt62ScsiRead10", [](KT62_HANDLE h) { return kt62ScsiRead10(h, 0, 512, buf, 1); }},
        {"kt62ScsiWrite10", [](KT62_HANDLE h) { return kt62ScsiWrite10(h, 0, 512, buf, 1); }},
        {"kt62UfsReadFlag", [](KT62_HANDLE h) { return kt62UfsReadFlag(h, 1, b4); }},
        {"kt62UfsSetFlag", [](KT62_HANDLE h) { return kt62UfsSetFlag(h, 1); }},
        {"kt62UfsClearFlag", [](KT62_HANDLE h) { return kt62UfsClearFlag(h, 1); }},
        {"kt62UfsToggleFlag", [](KT62_HANDLE h) { return kt62UfsToggleFlag(h, 1); }},
        {"kt62UfsReadAttribute", [](KT62_HANDLE h) { return kt62UfsReadAttribute(h, 1, 0, 0, &u1); }},
        {"kt62UfsWriteAttribute", [](KT62_HANDLE h) { return kt62UfsWriteAttribute(h, 1, 0, 0, 1); }},
        {"kt62UfsReadDescriptor", [](KT62_HANDLE h) { return kt62UfsReadDescriptor(h, 0, 0, 0, buf, 255); }},
        {"kt62UfsWriteDescriptor",
         [](KT62_HANDLE h) { return kt62UfsWriteDescriptor(h, 1, 0, 0, buf, 144); }},
        {"kt62UfsGetDME", [](KT62_HANDLE h) { return kt62UfsGetDME(h, 0x1560, 0, 1, &u1); }},
        {"kt62UfsReset", [](KT62_HANDLE h) { return kt62UfsReset(h, 1); }},
        {"kt62Update", [](KT62_HANDLE h) { return kt62Update(h, path); }},
    };
    return calls;
}

}  // namespace kt62test
