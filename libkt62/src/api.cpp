// The exported C functions. (Placeholder until the emulator lands.)
#include <kt62/apiKT6200.h>

extern "C" {

KT62_API int32_t kt62Search(void) { return 0; }
KT62_API KT62_HANDLE kt62Open(int32_t) { return KT62_INVALID_HANDLE; }
KT62_API int32_t kt62Close(KT62_HANDLE) { return KT62_E_INVALID_HANDLE; }
KT62_API int32_t kt62GetVersion(KT62_HANDLE, uint8_t*) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62GetProduct(KT62_HANDLE, uint8_t*, uint8_t*, uint8_t*) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62ScsiInquiry(KT62_HANDLE, uint8_t*) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62ScsiReadCapacity(KT62_HANDLE, uint32_t*, uint32_t*) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62ScsiRead10(KT62_HANDLE, uint32_t, uint32_t, uint8_t*, uint32_t) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62ScsiWrite10(KT62_HANDLE, uint32_t, uint32_t, const uint8_t*, uint32_t) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62SetPacketSize(uint32_t) { return KT62_OK; }
KT62_API int32_t kt62UfsReadFlag(KT62_HANDLE, uint8_t, uint8_t*) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62UfsSetFlag(KT62_HANDLE, uint8_t) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62UfsClearFlag(KT62_HANDLE, uint8_t) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62UfsToggleFlag(KT62_HANDLE, uint8_t) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62UfsReadAttribute(KT62_HANDLE, uint8_t, uint8_t, uint8_t, uint32_t*) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62UfsWriteAttribute(KT62_HANDLE, uint8_t, uint8_t, uint8_t, uint32_t) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62UfsReadDescriptor(KT62_HANDLE, uint8_t, uint8_t, uint8_t, uint8_t*, uint32_t) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62UfsWriteDescriptor(KT62_HANDLE, uint8_t, uint8_t, uint8_t, const uint8_t*, uint32_t) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62UfsGetDME(KT62_HANDLE, uint32_t, uint8_t, uint8_t, uint32_t*) {
    return KT62_E_NOT_SUPPORTED;
}
KT62_API int32_t kt62UfsReset(KT62_HANDLE, uint8_t) { return KT62_E_NOT_SUPPORTED; }
KT62_API int32_t kt62Update(KT62_HANDLE, const kt62_char16*) { return KT62_E_NOT_SUPPORTED; }

}  // extern "C"
