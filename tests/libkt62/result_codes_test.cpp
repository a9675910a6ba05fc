// The names and texts of results outside the library's own table: the query response codes and
// the device-failure families, told apart by their ranges.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

namespace {

TEST(ResultCodes, NegativeCodesNameTheirFamily) {
    const struct {
        int32_t code;
        const char* name;
        const char* text;
    } cases[] = {
        {KT62_QUERY_NOT_READABLE, "KT62_QUERY_NOT_READABLE", "query: "},
        {KT62_QUERY_INVALID_IDN, "KT62_QUERY_INVALID_IDN", "query: invalid IDN"},
        {KT62_QUERY_GENERAL_FAILURE, "KT62_QUERY_GENERAL_FAILURE", "query: "},
        {KT62_SCSI_FAILURE(0x05, 0x21), "KT62_SCSI_FAILURE",
         "SCSI command failed (sense key in the low byte)"},
        {KT62_SCSI_FAILURE(0x00, 0x00), "KT62_SCSI_FAILURE", "SCSI command failed"},
        {KT62_DME_FAILURE(0x05), "KT62_DME_FAILURE", "DME get failed (UIC result code in the low byte)"},
        {-11, "KT62_DEVICE_FAILURE", "device failure"},
        {INT32_MIN, "KT62_DEVICE_FAILURE", "device failure"},
        {KT62_E_FW_CRC + 1000, "KT62_E_UNKNOWN", "unknown library error"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(kt62ResultName(c.code), c.name) << c.code;
        EXPECT_EQ(std::string(kt62ResultText(c.code)).rfind(c.text, 0), 0u) << c.code;
    }
}

}  // namespace
