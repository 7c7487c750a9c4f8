// Every holder's out-parameter accessor lets go of what it held first: a
// holder filled twice leaks nothing.
#include "gps/com_holders.h"

#include <gtest/gtest.h>

#include <cstring>

#include "gps/prop_value.h"
#include "support/fake_shell_item.h"

namespace {

LPWSTR TaskString(const wchar_t* text) {
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(copy, text, bytes);
    return copy;
}

TEST(Holders, ComPtrReleasesWhatItHeldBeforeItIsFilledAgain) {
    FakeShellItem first;
    ComPtr<IShellItem2> holder;
    *holder.ReceiveVoid() = static_cast<IShellItem2*>(&first);
    void** again = holder.ReceiveVoid();
    EXPECT_EQ(first.releases, 1);
    EXPECT_EQ(*again, nullptr);
    EXPECT_FALSE(holder);
}

TEST(Holders, CoTaskStringFreesWhatItHeldBeforeItIsFilledAgain) {
    CoTaskString holder;
    *holder.Receive() = TaskString(L"N");
    LPWSTR* again = holder.Receive();
    EXPECT_EQ(*again, nullptr);
    EXPECT_EQ(holder.Get(), nullptr);
    *again = TaskString(L"S");
    EXPECT_STREQ(holder.Get(), L"S");
}

TEST(Holders, PropValueClearsWhatItHeldBeforeItIsFilledAgain) {
    PropValue holder;
    PROPVARIANT* value = holder.Receive();
    value->vt = VT_VECTOR | VT_R8;
    value->cadbl.cElems = 1;
    value->cadbl.pElems = static_cast<double*>(CoTaskMemAlloc(sizeof(double)));
    value->cadbl.pElems[0] = 51.0;

    PROPVARIANT* again = holder.Receive();
    EXPECT_EQ(again->vt, VT_EMPTY);
    double degrees = 1.0;
    EXPECT_FALSE(holder.ToDegrees(&degrees));
}

}  // namespace
