// The name the run hands the shell: a URI as typed, a path made absolute
// against the current directory (here the host's rules, with "/").
#include "app/parsing_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/host/os/wide_text.h"

namespace {

class ParsingNameTest : public testing::Test {
protected:
    void SetUp() override {
        char buffer[PATH_MAX];
        ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
        saved_ = buffer;
        ASSERT_EQ(chdir(testing::TempDir().c_str()), 0);
        ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
        here_ = host::WideFromBytes(buffer);
    }
    void TearDown() override { ASSERT_EQ(chdir(saved_.c_str()), 0); }

    std::wstring NameFor(const wchar_t* argument) {
        const wchar_t* name = ParsingNameFor(argument, fullPath_);
        return name != nullptr ? name : L"<none>";
    }

    std::wstring here_;
    wchar_t fullPath_[kFullPathCapacity];

private:
    std::string saved_;
};

TEST_F(ParsingNameTest, MakesTypedPathsAbsolute) {
    EXPECT_EQ(NameFor(L"IMG_1234.JPG"), here_ + L"/IMG_1234.JPG");
    EXPECT_EQ(NameFor(L"../trip/a.jpg"), here_ + L"/../trip/a.jpg");
    EXPECT_EQ(NameFor(L"photo one.jpg"), here_ + L"/photo one.jpg");
    EXPECT_EQ(NameFor(L"/srv/photos/a.jpg"), L"/srv/photos/a.jpg");
    // A byte that is not UTF-8 travels as U+DC80+byte and stays itself.
    EXPECT_EQ(NameFor(L"caf\xDCE9.jpg"), here_ + L"/caf\xDCE9.jpg");
}

TEST_F(ParsingNameTest, HandsUrisOverAsTyped) {
    for (const wchar_t* uri : {L"file:///srv/a.jpg", L"FILE:/srv/a.jpg", L"file://localhost/a"}) {
        EXPECT_EQ(ParsingNameFor(uri, fullPath_), uri) << uri;
    }
    // One letter before the colon is a drive, not a scheme.
    EXPECT_EQ(NameFor(L"C:a.jpg"), here_ + L"/C:a.jpg");
}

TEST_F(ParsingNameTest, GivesNoNameForAnEmptyArgument) { EXPECT_EQ(NameFor(L""), L"<none>"); }

}  // namespace
