// The shell item's read of a picture: opened, handed to the confined
// readers, read there, and the answer checked on its way back.
#include "platform/host/winapi/picture_metadata.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/picture_bytes.h"

namespace {

using namespace picture_bytes;

const Position kPosition = {{48, 51, 1234, 'N'}, {2, 17, 4000, 'E'}};

struct BmffCase {
    const char* name;
    HeifLayout layout;
    bool brokenTrailingBox;  // a box longer than the file, which exiv2 refuses
};

std::ostream& operator<<(std::ostream& out, const BmffCase& c) { return out << c.name; }

class ReadGpsMetadataBmffTest : public testing::TestWithParam<BmffCase> {
protected:
    void TearDown() override { std::remove(path_.c_str()); }

    std::string Write(const Bytes& file) {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        return path_;
    }

private:
    std::string path_ = TempPath("photomap_shell_item_test.heic");
};

TEST_P(ReadGpsMetadataBmffTest, ReadsTheExifItemWhateverExiv2MakesOfTheFile) {
    Bytes file = MakeHeif(GetParam().layout, GpsTiff(kPosition, {true}));
    if (GetParam().brokenTrailingBox) {
        Append(file, 4096, 4);  // the box's size, but the file ends after its type
        Append(file, "free");
    }

    host::GpsMetadata metadata;
    ASSERT_EQ(host::ReadGpsMetadata(Write(file), &metadata), S_OK);
    EXPECT_TRUE(metadata.latitude.present);
    EXPECT_EQ(metadata.latitude.parts, (std::vector<double>{48, 51, 12.34}));
    EXPECT_EQ(metadata.latitude.reference, "N");
    EXPECT_TRUE(metadata.longitude.present);
    EXPECT_EQ(metadata.longitude.parts, (std::vector<double>{2, 17, 40}));
    EXPECT_EQ(metadata.longitude.reference, "E");
}

INSTANTIATE_TEST_SUITE_P(Files, ReadGpsMetadataBmffTest,
                         testing::Values(BmffCase{"ItemInMdat", {1, 0, 0}, false},
                                         BmffCase{"LocationsVersion0", {0, 0, 0}, false},
                                         BmffCase{"LocationsVersion2", {2, 4, 0}, false},
                                         BmffCase{"ItemAfterAWideBaseOffset", {1, 8, 0}, false},
                                         BmffCase{"ItemAfterABaseOffset", {1, 4, 0}, false},
                                         BmffCase{"ItemInIdat", {1, 0, 1}, false},
                                         BmffCase{"BrokenBoxAfterTheItemInMdat", {1, 0, 0}, true},
                                         BmffCase{"BrokenBoxAfterTheItemInIdat", {1, 0, 1}, true}),
                         [](const testing::TestParamInfo<BmffCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

extern "C" HRESULT WINAPI SHCreateItemFromParsingName(PCWSTR name, IBindCtx* context, REFIID riid,
                                                      void** item);

namespace {

// Which names become items: full paths and file URIs of a regular file, as
// on Windows; a relative name never, since the program makes it absolute.
struct NameCase {
    const char* label;
    std::wstring name;  // "@" stands for the file's absolute path
    HRESULT expected;
};

class ParsingNameCaseTest : public testing::TestWithParam<NameCase> {};

TEST_P(ParsingNameCaseTest, CreatesItemsOnlyForFullPathsAndFileUris) {
    const std::string path = TempPath("photomap_parsing_name.jpg");
    std::ofstream(path) << "not a picture, but a regular file";
    std::wstring name = GetParam().name;
    const std::size_t at = name.find(L'@');
    if (at != std::wstring::npos) name.replace(at, 1, std::wstring(path.begin(), path.end()));

    void* item = nullptr;
    EXPECT_EQ(SHCreateItemFromParsingName(name.c_str(), nullptr, IID_IShellItem2, &item),
              GetParam().expected);
    EXPECT_EQ(item != nullptr, SUCCEEDED(GetParam().expected));
    if (item != nullptr) static_cast<IShellItem2*>(item)->Release();
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Names, ParsingNameCaseTest,
    testing::Values(NameCase{"FullPath", L"@", S_OK}, NameCase{"FileUri", L"file://@", S_OK},
                    NameCase{"FileUriLocalhost", L"file://localhost@", S_OK},
                    NameCase{"FileUriLocalhostInCapitals", L"FILE://LOCALHOST@", S_OK},
                    NameCase{"FileUriWithOneSlash", L"file:@", S_OK},
                    NameCase{"FileUriOfAnotherHost", L"file://elsewhere@",
                             HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
                    NameCase{"RelativeName", L"photomap_parsing_name.jpg", E_INVALIDARG},
                    NameCase{"Empty", L"", E_INVALIDARG},
                    NameCase{"Missing", L"/nonexistent/photomap.jpg",
                             HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

}  // namespace
