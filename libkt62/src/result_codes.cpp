// Names and texts of result codes, generated from the one table in the
// public header.
#include <kt62/apiKT6200.h>

namespace {

struct QueryCode {
    int32_t code;
    const char* name;
    const char* text;
};

constexpr QueryCode kQueryCodes[] = {
    {KT62_QUERY_GENERAL_FAILURE, "KT62_QUERY_GENERAL_FAILURE", "query: general failure"},
    {KT62_QUERY_INVALID_OPCODE, "KT62_QUERY_INVALID_OPCODE", "query: invalid opcode"},
    {KT62_QUERY_INVALID_IDN, "KT62_QUERY_INVALID_IDN", "query: invalid IDN"},
    {KT62_QUERY_INVALID_INDEX, "KT62_QUERY_INVALID_INDEX", "query: invalid index"},
    {KT62_QUERY_INVALID_SELECTOR, "KT62_QUERY_INVALID_SELECTOR", "query: invalid selector"},
    {KT62_QUERY_INVALID_VALUE, "KT62_QUERY_INVALID_VALUE", "query: invalid value"},
    {KT62_QUERY_INVALID_LENGTH, "KT62_QUERY_INVALID_LENGTH", "query: invalid length"},
    {KT62_QUERY_ALREADY_WRITTEN, "KT62_QUERY_ALREADY_WRITTEN", "query: parameter already written"},
    {KT62_QUERY_NOT_WRITEABLE, "KT62_QUERY_NOT_WRITEABLE", "query: parameter not writeable"},
    {KT62_QUERY_NOT_READABLE, "KT62_QUERY_NOT_READABLE", "query: parameter not readable"},
};

bool IsScsiFailure(int32_t r) { return (static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFE0000u; }
bool IsDmeFailure(int32_t r) { return (static_cast<uint32_t>(r) & 0xFFFF0000u) == 0xFFFD0000u; }

}  // namespace

extern "C" {

KT62_API const char* kt62ResultName(int32_t result) {
    switch (result) {
#define KT62_NAME_CASE(sym, num, text) \
    case num:                          \
        return #sym;
        KT62_RESULT_TABLE(KT62_NAME_CASE)
#undef KT62_NAME_CASE
        default:
            break;
    }
    for (const QueryCode& q : kQueryCodes)
        if (q.code == result) return q.name;
    if (IsScsiFailure(result)) return "KT62_SCSI_FAILURE";
    if (IsDmeFailure(result)) return "KT62_DME_FAILURE";
    return result < 0 ? "KT62_DEVICE_FAILURE" : "KT62_E_UNKNOWN";
}

KT62_API const char* kt62ResultText(int32_t result) {
    switch (result) {
#define KT62_TEXT_CASE(sym, num, text) \
    case num:                          \
        return text;
        KT62_RESULT_TABLE(KT62_TEXT_CASE)
#undef KT62_TEXT_CASE
        default:
            break;
    }
    for (const QueryCode& q : kQueryCodes)
        if (q.code == result) return q.text;
    if (IsScsiFailure(result)) return "SCSI command failed (sense key in the low byte)";
    if (IsDmeFailure(result)) return "DME get failed (UIC result code in the low byte)";
    return result < 0 ? "device failure" : "unknown library error";
}

}  // extern "C"
