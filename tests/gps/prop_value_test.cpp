#include "gps/prop_value.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Fills the holder with a VT_VECTOR | VT_R8 in task memory, as the platform does.
void FillDoubles(PropValue& holder, std::initializer_list<double> elements) {
    PROPVARIANT* value = holder.Receive();
    value->vt = VT_VECTOR | VT_R8;
    value->cadbl.cElems = static_cast<ULONG>(elements.size());
    value->cadbl.pElems =
        static_cast<double*>(CoTaskMemAlloc(elements.size() * sizeof(double) + 1));
    std::copy(elements.begin(), elements.end(), value->cadbl.pElems);
}

TEST(PropValue, SumsInTheOrderElementOverDivisorPlusSum) {
    // Chosen so that any other order of the same additions gives other bits.
    const double d = 0.3, m = 0.5, s = 0.4;
    PropValue holder;
    FillDoubles(holder, {d, m, s});
    double degrees = 0.0;
    ASSERT_TRUE(holder.ToDegrees(&degrees));

    double expected = 0.0;
    expected = d / 1.0 + expected;
    expected = m / 60.0 + expected;
    expected = s / 3600.0 + expected;
    EXPECT_EQ(degrees, expected);
    EXPECT_NE(degrees, d + (m / 60.0 + s / 3600.0));
}

TEST(PropValue, EmptyVectorIsZeroWhateverTheElementType) {
    PropValue holder;
    holder.Receive()->vt = VT_VECTOR | VT_I4;  // count 0, no elements
    double degrees = 5.0;
    EXPECT_TRUE(holder.ToDegrees(&degrees));
    EXPECT_EQ(degrees, 0.0);
}

TEST(PropValue, VectorWithNonFloatingElementsFailsAtTheFirstWithoutReadingIt) {
    PropValue holder;
    PROPVARIANT* value = holder.Receive();
    value->vt = VT_VECTOR | VT_I4;
    value->cal.cElems = 3;
    value->cal.pElems = nullptr;  // reading an element would crash
    double degrees = 5.0;
    EXPECT_FALSE(holder.ToDegrees(&degrees));
    EXPECT_EQ(degrees, 0.0);
    value->vt = VT_EMPTY;  // nothing to release
}

struct ScalarCase {
    VARTYPE type;
    bool converts;
};

class ToDoubleTest : public testing::TestWithParam<ScalarCase> {};

TEST_P(ToDoubleTest, OnlyFloatingScalarsConvert) {
    PropValue holder;
    PROPVARIANT* value = holder.Receive();
    value->vt = GetParam().type;
    if (GetParam().type == VT_R4) value->fltVal = 2.5f;
    if (GetParam().type == VT_R8) value->dblVal = 2.5;
    if (GetParam().type == VT_I4) value->lVal = 7;
    double converted = -1.0;
    EXPECT_EQ(holder.ToDouble(&converted), GetParam().converts);
    EXPECT_EQ(converted, GetParam().converts ? 2.5 : 0.0);
    value->vt = VT_EMPTY;
}

INSTANTIATE_TEST_SUITE_P(Types, ToDoubleTest,
                         testing::Values(ScalarCase{VT_R4, true}, ScalarCase{VT_R8, true},
                                         ScalarCase{VT_EMPTY, false}, ScalarCase{VT_I4, false},
                                         ScalarCase{VT_UI4, false},
                                         ScalarCase{VT_BYREF | VT_R8, false},
                                         ScalarCase{VT_VECTOR | VT_R8, false}));

TEST(PropValue, ClearReleasesOwnedMemoryAndEmptiesTheValue) {
    PropValue holder;
    FillDoubles(holder, {1, 2, 3});
    EXPECT_EQ(holder.Clear(), S_OK);
    EXPECT_EQ(holder.Get().vt, VT_EMPTY);
    EXPECT_EQ(holder.Clear(), S_OK);  // a second Clear finds nothing to release
}

TEST(PropValue, ClearOfPlainValuesOnlyResetsTheTag) {
    const VARTYPE plainTypes[] = {VT_NULL, VT_I2,  VT_R8,       VT_ERROR,
                                  VT_BOOL, VT_UI4, VT_FILETIME, VT_BYREF | VT_LPWSTR};
    for (const VARTYPE type : plainTypes) {
        PropValue holder;
        PROPVARIANT* value = holder.Receive();
        value->vt = type;
        value->pwszVal = reinterpret_cast<wchar_t*>(0x1);  // would crash if released
        EXPECT_EQ(holder.Clear(), S_OK) << type;
        EXPECT_EQ(holder.Get().vt, VT_EMPTY) << type;
    }
}

TEST(PropValue, ClearThatThePlatformRefusesLeavesAnErrorValue) {
    PropValue holder;
    holder.Receive()->vt = 0x0FFF;  // no such type
    const HRESULT status = holder.Clear();
    EXPECT_TRUE(FAILED(status));
    EXPECT_EQ(holder.Get().vt, VT_ERROR);
    EXPECT_EQ(holder.Get().scode, status);
}

}  // namespace
