// Names and texts of result codes: every library error of the table, the query
// response codes and the device-failure families.
#include <gtest/gtest.h>
#include <kt62/apiKT6200.h>

#include <set>
#include <string>

namespace {

struct Entry {
    int32_t code;
    const char* name;
    const char* text;
};

TEST(ResultCodes, EveryTableEntryHasItsNameAndText) {
    const Entry table[] = {
#define KT62_TEST_ENTRY(sym, num, text) {num, #sym, text},
        KT62_RESULT_TABLE(KT62_TEST_ENTRY)
#undef KT62_TEST_ENTRY
    };
    std::set<int32_t> numbers;
    for (const Entry& e : table) {
        EXPECT_STREQ(kt62ResultName(e.code), e.name);
        EXPECT_STREQ(kt62ResultText(e.code), e.text);
        EXPECT_TRUE(numbers.insert(e.code).second) << "number used twice: " << e.code;
    }
    const int32_t past_end = *numbers.rbegin() + 1;
    EXPECT_STREQ(kt62ResultName(past_end), "KT62_E_UNKNOWN");
    EXPECT_STREQ(kt62ResultText(past_end), "unknown library error");
}

TEST(ResultCodes, NegativeCodesNameTheirFamily) {
    // Each query response code -1 .. -10 has a name and a text of its own.
    std::set<std::string> names, texts;
    for (int32_t code = KT62_QUERY_NOT_READABLE; code <= KT62_QUERY_GENERAL_FAILURE; ++code) {
        EXPECT_EQ(std::string(kt62ResultName(code)).rfind("KT62_QUERY_", 0), 0u) << code;
        EXPECT_EQ(std::string(kt62ResultText(code)).rfind("query: ", 0), 0u) << code;
        names.insert(kt62ResultName(code));
        texts.insert(kt62ResultText(code));
    }
    EXPECT_EQ(names.size(), 10u);
    EXPECT_EQ(texts.size(), 10u);

    const Entry cases[] = {
        {KT62_QUERY_INVALID_IDN, "KT62_QUERY_INVALID_IDN", "query: invalid IDN"},
        {KT62_SCSI_FAILURE(0x05, 0x21), "KT62_SCSI_FAILURE",
         "SCSI command failed (sense key in the low byte)"},
        {KT62_SCSI_FAILURE(0x00, 0x00), "KT62_SCSI_FAILURE",
         "SCSI command failed (sense key in the low byte)"},
        {KT62_DME_FAILURE(0x05), "KT62_DME_FAILURE", "DME get failed (UIC result code in the low byte)"},
        {-11, "KT62_DEVICE_FAILURE", "device failure"},
        {INT32_MIN, "KT62_DEVICE_FAILURE", "device failure"},
    };
    for (const Entry& e : cases) {
        EXPECT_STREQ(kt62ResultName(e.code), e.name) << e.code;
        EXPECT_STREQ(kt62ResultText(e.code), e.text) << e.code;
    }
    // The low bytes carry the status as documented.
    EXPECT_EQ(KT62_QUERY_INVALID_IDN & 0xFF, 0xFD);
    EXPECT_EQ(KT62_QUERY_NOT_READABLE & 0xFF, 0xF6);
    EXPECT_EQ(KT62_SCSI_FAILURE(0x05, 0x21) & 0xFF, 0x05);
    EXPECT_EQ((KT62_SCSI_FAILURE(0x05, 0x21) >> 8) & 0xFF, 0x21);
    EXPECT_LT(KT62_SCSI_FAILURE(0x05, 0x21), 0);
}

}  // namespace
