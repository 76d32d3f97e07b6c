// tests/platform/com/automation_test.cpp
// OLE dates and SYSTEMTIMEs both ways, GUID texts, BSTRs, VARIANT copies and
// SAFEARRAYs in the device layout.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/com.h"
#include "platform/memory.h"

namespace qob::platform {
namespace {

struct DateCase {
    uint16_t year, month, day, hour, minute, second, millisecond;
    double date;         // computed with Python's datetime (day 0 = 1899-12-30)
    uint16_t dayOfWeek;  // 0 Sunday
};
// Dates before 1899-12-30 count their fraction away from zero.
constexpr DateCase kDates[] = {
    {1899, 12, 30, 0, 0, 0, 0, 0.0, 6},
    {1899, 12, 31, 6, 0, 0, 0, 1.25, 0},
    {1900, 1, 1, 0, 0, 0, 0, 2.0, 1},
    {1899, 12, 29, 6, 0, 0, 0, -1.25, 5},
    {1899, 12, 29, 18, 0, 0, 0, -1.75, 5},
    {1800, 1, 1, 12, 30, 0, 0, -36522.520833333336, 3},
    {100, 1, 1, 0, 0, 0, 0, -657434.0, 5},
    {9999, 12, 31, 23, 59, 59, 999, 2958465.9999999884, 5},
    {2024, 2, 29, 13, 45, 30, 250, 45351.573266782405, 4},
    {1970, 1, 1, 0, 0, 0, 1, 25569.000000011572, 4},
    {1899, 12, 30, 23, 59, 59, 999, 0.999999988425926, 6},
    {1600, 3, 1, 0, 0, 0, 500, -109511.00000578703, 3},
    {2000, 1, 1, 12, 0, 0, 0, 36526.5, 6},
};

TEST(OleDates, AgreeWithTheCalendarBothWays) {
    for (const DateCase& c : kDates) {
        const SYSTEMTIME time{c.year, c.month, 0, c.day, c.hour, c.minute, c.second, c.millisecond};
        double date = 12345.0;
        ASSERT_EQ(SystemTimeToVariantTime(&time, &date), 1) << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(date, c.date) << c.year << "-" << c.month << "-" << c.day;
        SYSTEMTIME back{};
        ASSERT_EQ(VariantTimeToSystemTime(c.date, &back), 1) << c.date;
        EXPECT_EQ(back.wYear, c.year) << c.date;
        EXPECT_EQ(back.wMonth, c.month) << c.date;
        EXPECT_EQ(back.wDay, c.day) << c.date;
        EXPECT_EQ(back.wHour, c.hour) << c.date;
        EXPECT_EQ(back.wMinute, c.minute) << c.date;
        EXPECT_EQ(back.wSecond, c.second) << c.date;
        EXPECT_EQ(back.wMilliseconds, c.millisecond) << c.date;
        EXPECT_EQ(back.wDayOfWeek, c.dayOfWeek) << c.date;
    }
}

TEST(OleDates, RefuseFieldsAndDatesOutOfRange) {
    const SYSTEMTIME bad[] = {
        {99, 12, 0, 31, 0, 0, 0, 0},   {10000, 1, 0, 1, 0, 0, 0, 0}, {2023, 2, 0, 29, 0, 0, 0, 0},
        {2024, 13, 0, 1, 0, 0, 0, 0},  {2024, 1, 0, 0, 0, 0, 0, 0},  {2024, 1, 0, 1, 24, 0, 0, 0},
        {2024, 1, 0, 1, 0, 60, 0, 0},  {2024, 1, 0, 1, 0, 0, 60, 0}, {2024, 1, 0, 1, 0, 0, 0, 1000},
    };
    for (const SYSTEMTIME& time : bad) {
        double date = 7.0;
        EXPECT_EQ(SystemTimeToVariantTime(&time, &date), 0) << time.wYear << "-" << time.wMonth << "-" << time.wDay;
        EXPECT_EQ(date, 7.0);
    }
    SYSTEMTIME out{};
    for (double date : {-657435.0, 2958466.0, 1e300, -1e300, std::nan("")})
        EXPECT_EQ(VariantTimeToSystemTime(date, &out), 0) << date;
}

TEST(OleDates, AFractionThatRoundsToMidnightStartsTheNextDay) {
    SYSTEMTIME time{};
    ASSERT_EQ(VariantTimeToSystemTime(1.9999999999, &time), 1);
    EXPECT_EQ(time.wDay, 1);
    EXPECT_EQ(time.wMonth, 1);
    EXPECT_EQ(time.wYear, 1900);
    EXPECT_EQ(time.wHour, 0);
    ASSERT_EQ(VariantTimeToSystemTime(-1.9999999999, &time), 1);
    EXPECT_EQ(time.wDay, 30);
    EXPECT_EQ(time.wHour, 0);
}

TEST(Guids, ParseAndFormatRoundTrip) {
    GUID guid{};
    ASSERT_TRUE(ParseGuid(u"{0123abcd-4567-89ef-0123-456789ABCDEF}", &guid));
    EXPECT_EQ(guid.Data1, 0x0123ABCDu);
    EXPECT_EQ(guid.Data2, 0x4567);
    EXPECT_EQ(guid.Data3, 0x89EF);
    EXPECT_EQ(guid.Data4[0], 0x01);
    EXPECT_EQ(guid.Data4[7], 0xEF);
    EXPECT_EQ(FormatGuid(guid), u"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
    for (const char16_t* bad : {u"", u"0123abcd-4567-89ef-0123-456789ABCDEF", u"{0123abcd-4567-89ef-0123-456789ABCDEG}",
                                u"{0123abcd-4567-89ef-0123+456789ABCDEF}", u"{0123abcd-4567-89ef-0123-456789ABCDEF"})
        EXPECT_FALSE(ParseGuid(bad, &guid)) << std::u16string_view(bad).size();
}

TEST(Bstrs, KeepTheirLengthBeforeTheTextInLowMemory) {
    BSTR text = AnsiToBstr("h\xC3\xA9llo");
    ASSERT_NE(text, nullptr);
    EXPECT_LT(reinterpret_cast<uintptr_t>(text), kLowMemoryLimit);
    EXPECT_EQ(SysStringLen(text), 5u);
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 10u);
    EXPECT_EQ(text[5], 0);
    EXPECT_EQ(BstrToAnsi(text), "h\xC3\xA9llo");
    SysFreeString(text);
    // Bytes that are not UTF-8 survive the round trip.
    BSTR odd = AnsiToBstr("\xFF\x80");
    EXPECT_EQ(BstrToAnsi(odd), "\xFF\x80");
    SysFreeString(odd);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Variants, AreSixteenBytesAndCopiesOwnTheirText) {
    static_assert(sizeof(VARIANT) == 16);
    VARIANT source{};
    SetVariantPointer(&source, VT_BSTR, AnsiToBstr("abc"));
    VARIANT copy{};
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.word, source.word);
    EXPECT_EQ(BstrToAnsi(VariantBstr(copy)), "abc");
    VariantClear(&source);
    EXPECT_EQ(source.vt, VT_EMPTY);
    EXPECT_EQ(BstrToAnsi(VariantBstr(copy)), "abc");
    VariantClear(&copy);
}

TEST(SafeArrays, KeepTheDeviceLayout) {
    const SAFEARRAYBOUND bound{3, 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    ASSERT_NE(array, nullptr);
    unsigned char bytes[24];
    std::memcpy(bytes, array, 24);
    EXPECT_EQ(bytes[0], 1);      // cDims
    EXPECT_EQ(bytes[2], 0x80);   // FADF_HAVEVARTYPE
    EXPECT_EQ(bytes[4], 1);      // cbElements
    EXPECT_EQ(bytes[16], 3);     // cElements
    EXPECT_NE(array->pvData, 0u);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArrays, DestroyRefusesWhatIsNoArray) {
    void* block = AllocateZeroedBlock(64);
    EXPECT_EQ(SafeArrayDestroy(static_cast<SAFEARRAY*>(block)), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(reinterpret_cast<SAFEARRAY*>(static_cast<char*>(block) + 16)), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(nullptr), E_INVALIDARG);
    FreeBlock(block);
    const SAFEARRAYBOUND bound{2, 0};
    SAFEARRAY* texts = SafeArrayCreate(VT_BSTR, 1, &bound);
    ASSERT_NE(texts, nullptr);
    const uint32_t word = LowAddress(AnsiToBstr("kept"));
    std::memcpy(SafeArrayData(texts), &word, 4);
    EXPECT_EQ(SafeArrayDestroy(texts), S_OK);  // frees the string with it
    EXPECT_EQ(SafeArrayDestroy(texts), E_INVALIDARG);
    EXPECT_EQ(SafeArrayCreate(VT_USERDEFINED, 1, &bound), nullptr);
}

}  // namespace
}  // namespace qob::platform
