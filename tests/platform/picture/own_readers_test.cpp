// Pictures whose position only our own readers find, read as photomap
// reads them, and their broken twins, which must find none.
#include "platform/host/picture/readers.h"

#include "support/picture_bytes.h"
#include "support/read_picture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace picture_bytes;

const Position kTokyo = {{35, 39, 3100, 'N'}, {139, 44, 4300, 'E'}};
const Position kReykjavik = {{64, 8, 1500, 'N'}, {21, 56, 600, 'W'}};

std::vector<double> Parts(const Dms& dms) {
    return {double(dms.degrees), double(dms.minutes), dms.hundredthsOfSeconds / 100.0};
}

struct PictureCase {
    const char* name;
    std::function<Bytes()> make;
    bool hasPosition;
    Position position;  // when it has one
};

std::ostream& operator<<(std::ostream& out, const PictureCase& c) { return out << c.name; }

class OwnReadersTest : public testing::TestWithParam<PictureCase> {};

// A broken twin ends in message B: exiv2 may refuse it (a failure) or find
// nothing (no position), and our reader must hand back no block at all.
TEST_P(OwnReadersTest, FindsExactlyThePositionTheFileHolds) {
    const Bytes file = GetParam().make();
    host::GpsMetadata metadata;
    const HRESULT status = read_picture::ReadLikePhotomap(file, &metadata);
    if (!GetParam().hasPosition) {
        EXPECT_FALSE(SUCCEEDED(status) && metadata.latitude.present && metadata.longitude.present);
        return;
    }
    ASSERT_EQ(status, S_OK);
    ASSERT_TRUE(metadata.latitude.present);
    ASSERT_TRUE(metadata.longitude.present);
    const Position& expected = GetParam().position;
    EXPECT_EQ(metadata.latitude.parts, Parts(expected.latitude));
    EXPECT_EQ(metadata.longitude.parts, Parts(expected.longitude));
    EXPECT_EQ(metadata.latitude.reference, std::string(1, expected.latitude.reference));
    EXPECT_EQ(metadata.longitude.reference, std::string(1, expected.longitude.reference));
}

Bytes PngWith(TextChunk kind, const Bytes& profile, const char* key = "Raw profile type exif",
              const char* name = "exif") {
    return Png({RawProfileChunk(kind, RawProfileText(profile, name), key)});
}

std::string WithOddCharacter(std::string text) {
    text[text.size() - 3] = 'g';
    return text;
}

// The profile's text with another byte count on its third line.
std::string WithStatedCount(const Bytes& bytes, std::size_t count) {
    std::string text = RawProfileText(bytes);
    const std::size_t countStart = text.find('\n', 1) + 1;
    const std::size_t countEnd = text.find('\n', countStart);
    return text.replace(countStart, countEnd - countStart, std::to_string(count));
}

// Exif with an empty first directory, as a stereo pair's primary image may carry.
const Bytes kTiffWithoutGps = MakeTiff({Directory{}}, {true});

// Far more than the inflated-size bound, from a few kilobytes of zTXt.
std::string Bomb() { return RawProfileText(GpsTiff(kTokyo)) + std::string(5u << 20, '\n'); }

INSTANTIATE_TEST_SUITE_P(
    Cr3, OwnReadersTest,
    testing::Values(PictureCase{"Cr3LittleEndian", [] { return MakeCr3(kTokyo); }, true, kTokyo},
                    PictureCase{"Cr3BigEndian", [] { return MakeCr3(kSydney, {true}); }, true,
                                kSydney},
                    PictureCase{"Cr3WithBrokenBoxAfterCanons",
                                [] {
                                    return MakeCr3(kTokyo, {false, 0, 0, 0, true});
                                },
                                true, kTokyo},
                    PictureCase{"Cr3WithGpsEntriesAtTheBound",
                                [] {
                                    return MakeCr3(kTokyo, {false, 1020});
                                },
                                true, kTokyo},
                    PictureCase{"Cr3WithGpsEntriesOverTheBound",
                                [] {
                                    return MakeCr3(kTokyo, {false, 1021, 0, 0, true});
                                },
                                false,
                                {}},
                    PictureCase{"Cr3WithMoovBoxesOverTheBound",
                                [] {
                                    return MakeCr3(kTokyo, {false, 0, 1024});
                                },
                                false,
                                {}},
                    PictureCase{"Cr3WithCmt4OverTheBound",
                                [] {
                                    return MakeCr3(kTokyo, {false, 0, 0, 1u << 20, true});
                                },
                                false,
                                {}},
                    PictureCase{"Cr3CutInsideCmt4",
                                [] {
                                    Bytes file = MakeCr3(kTokyo);
                                    file.resize(file.size() - 80);
                                    return file;
                                },
                                false,
                                {}}));

INSTANTIATE_TEST_SUITE_P(
    Png, OwnReadersTest,
    testing::Values(
        PictureCase{"TextWithExifHeader",
                    [] { return PngWith(TextChunk::kText, ExifPrefixed(GpsTiff(kSydney))); }, true,
                    kSydney},
        PictureCase{"TextBigEndianTiff",
                    [] { return PngWith(TextChunk::kText, GpsTiff(kReykjavik, {true})); }, true,
                    kReykjavik},
        PictureCase{"CompressedText",
                    [] { return PngWith(TextChunk::kCompressedText, GpsTiff(kTokyo)); }, true,
                    kTokyo},
        PictureCase{"InternationalText",
                    [] { return PngWith(TextChunk::kInternationalText, GpsTiff(kTokyo)); }, true,
                    kTokyo},
        PictureCase{"CompressedInternationalText",
                    [] {
                        return PngWith(TextChunk::kCompressedInternationalText,
                                       ExifPrefixed(GpsTiff(kSydney)));
                    },
                    true, kSydney},
        PictureCase{"App1Profile",
                    [] {
                        return PngWith(TextChunk::kCompressedText, ExifPrefixed(GpsTiff(kTokyo)),
                                       "Raw profile type APP1", "APP1");
                    },
                    true, kTokyo},
        PictureCase{
            "OtherKeyword",
            [] { return PngWith(TextChunk::kText, GpsTiff(kTokyo), "Raw profile type iptc"); },
            false,
            {}},
        PictureCase{"HexWithOddCharacter",
                    [] {
                        return Png({RawProfileChunk(
                            TextChunk::kText, WithOddCharacter(RawProfileText(GpsTiff(kTokyo))))});
                    },
                    false,
                    {}},
        PictureCase{"CountLargerThanHex",
                    [] {
                        const Bytes tiff = GpsTiff(kTokyo);
                        return Png({RawProfileChunk(TextChunk::kText,
                                                    WithStatedCount(tiff, tiff.size() + 1))});
                    },
                    true, kTokyo},
        PictureCase{"CountSmallerThanHex",
                    [] {
                        const Bytes tiff = GpsTiff(kTokyo);
                        return Png({RawProfileChunk(TextChunk::kText,
                                                    WithStatedCount(tiff, tiff.size() - 1))});
                    },
                    true, kTokyo},
        PictureCase{"CompressedTextBomb",
                    [] { return Png({RawProfileChunk(TextChunk::kCompressedText, Bomb())}); },
                    false,
                    {}},
        PictureCase{"GoodProfileAfterTooManyBrokenOnes",
                    [] {
                        std::vector<Bytes> chunks(host::kMostRawProfiles,
                                                  RawProfileChunk(TextChunk::kText, "\nexif\n"));
                        chunks.push_back(
                            RawProfileChunk(TextChunk::kText, RawProfileText(GpsTiff(kTokyo))));
                        return Png(chunks);
                    },
                    false,
                    {}},
        PictureCase{"GoodProfileAfterFewerBrokenOnes",
                    [] {
                        std::vector<Bytes> chunks(host::kMostRawProfiles - 1,
                                                  RawProfileChunk(TextChunk::kText, "\nexif\n"));
                        chunks.push_back(
                            RawProfileChunk(TextChunk::kText, RawProfileText(GpsTiff(kTokyo))));
                        return Png(chunks);
                    },
                    true, kTokyo}));

INSTANTIATE_TEST_SUITE_P(
    JpegXr, OwnReadersTest,
    testing::Values(
        PictureCase{"Plain", [] { return MakeJxr(kReykjavik); }, true, kReykjavik},
        PictureCase{"EntriesAtTheBound", [] { return MakeJxr(kTokyo, {1023}); }, true, kTokyo},
        PictureCase{"EntriesOverTheBound", [] { return MakeJxr(kTokyo, {1024}); }, false, {}},
        PictureCase{"GpsPointerPastTheEnd",
                    [] {
                        return MakeJxr(kTokyo, {0, 4096});
                    },
                    false,
                    {}}));

INSTANTIATE_TEST_SUITE_P(
    Heif, OwnReadersTest,
    testing::Values(
        PictureCase{"CutShortMdat",
                    [] {
                        return MakeMultiImageHeif(1, {{1, 7, GpsTiff(kTokyo)}}, 1u << 30);
                    },
                    true, kTokyo},
        PictureCase{"MdatCutInsideTheExifItem",
                    [] {
                        return MakeMultiImageHeif(1, {{1, 7, GpsTiff(kTokyo)}}, 1u << 30, 10);
                    },
                    false,
                    {}},
        PictureCase{
            "PositionInTheSecondImageOnly",
            [] {
                return MakeMultiImageHeif(1, {{1, 7, kTiffWithoutGps}, {2, 8, GpsTiff(kSydney)}});
            },
            true, kSydney},
        PictureCase{"PrimaryImageFirstWhateverTheOrder",
                    [] {
                        return MakeMultiImageHeif(
                            2, {{1, 7, GpsTiff(kSydney)}, {2, 8, GpsTiff(kReykjavik)}});
                    },
                    true, kReykjavik},
        PictureCase{"SecondImageCutShort",
                    [] {
                        return MakeMultiImageHeif(
                            1, {{1, 7, GpsTiff(kTokyo)}, {2, 8, GpsTiff(kSydney)}}, 1u << 20, 4);
                    },
                    true, kTokyo}));

class TruncationTest : public testing::TestWithParam<Bytes (*)()> {};

// A file cut anywhere gives the whole position or none, never a part.
TEST_P(TruncationTest, FindsNothingOrTheWholePosition) {
    const Bytes whole = GetParam()();
    host::GpsMetadata found;
    ASSERT_TRUE(read_picture::ReadOwn(whole, &found));
    for (std::size_t length = 0; length < whole.size(); ++length) {
        host::GpsMetadata cut;
        if (read_picture::ReadOwn(Bytes(whole.begin(), whole.begin() + length), &cut)) {
            EXPECT_EQ(cut.latitude.parts, found.latitude.parts) << length;
            EXPECT_EQ(cut.longitude.reference, found.longitude.reference) << length;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, TruncationTest,
                         testing::Values([] { return MakeCr3(kTokyo); },
                                         [] {
                                             return MakeHeif({1, 4, 0}, GpsTiff(kSydney));
                                         },
                                         [] {
                                             return MakeHeif({1, 4, 1}, GpsTiff(kSydney));
                                         }));

struct HexCase {
    const char* text;
    bool decodes;
    Bytes bytes;
};

std::ostream& operator<<(std::ostream& out, const HexCase& c) { return out << c.text; }

class RawProfileTextTest : public testing::TestWithParam<HexCase> {};

TEST_P(RawProfileTextTest, DecodesOnlyImageMagicksForm) {
    const std::string text = GetParam().text;
    Bytes bytes;
    EXPECT_EQ(host::DecodeRawProfileText(reinterpret_cast<const unsigned char*>(text.data()),
                                         text.size(), &bytes),
              GetParam().decodes);
    if (GetParam().decodes) {
        EXPECT_EQ(bytes, GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RawProfileTextTest,
    testing::Values(HexCase{"\nexif\n       3\n0aFf10\n", true, {0x0a, 0xff, 0x10}},
                    HexCase{"\nexif\n3\n0a\nff\n10", true, {0x0a, 0xff, 0x10}},
                    HexCase{"exif\n 2\r\n0aff", false, {}},  // CR before the count's newline
                    HexCase{"\nexif\n       3\n0aff1\n", false, {}},  // half a byte
                    HexCase{"\nexif\n       3\n0aff10ff\n", true, {0x0a, 0xff, 0x10, 0xff}},
                    HexCase{"\nexif\n       3\n0a:f10\n", false, {}},
                    HexCase{"\nexif\n       0\n\n", false, {}},
                    HexCase{"\nexif\n      -3\n0aff10\n", false, {}},
                    HexCase{"\nexif\n999999999\n00\n", false, {}},
                    HexCase{"\nexif\n 2097153\n00\n", true, {0}},  // a count is a hint
                    HexCase{"\n\n       3\n0aff10\n", false, {}},
                    HexCase{"\nexif       3\n0aff10\n", false, {}}));

// ---- What the standard readers find -------------------------------------

struct Answer {
    const char* name;
    std::function<Bytes()> make;
    std::vector<double> latitude, longitude;  // none: no position
    const char* references;                   // latitude's and longitude's
};

std::ostream& operator<<(std::ostream& out, const Answer& answer) { return out << answer.name; }

class StandardAnswersTest : public testing::TestWithParam<Answer> {};

TEST_P(StandardAnswersTest, GiveThePositionAStandardReaderFinds) {
    host::GpsMetadata metadata;
    const HRESULT status = read_picture::ReadLikePhotomap(GetParam().make(), &metadata);
    const bool found = SUCCEEDED(status) && metadata.latitude.present && metadata.longitude.present;
    ASSERT_EQ(found, !GetParam().latitude.empty());
    if (!found) return;
    EXPECT_EQ(metadata.latitude.parts, GetParam().latitude);
    EXPECT_EQ(metadata.longitude.parts, GetParam().longitude);
    EXPECT_EQ(metadata.latitude.reference + metadata.longitude.reference, GetParam().references);
}

const std::vector<double> kTokyoLatitude = Parts(kTokyo.latitude);
const std::vector<double> kTokyoLongitude = Parts(kTokyo.longitude);

// The Tokyo TIFF with fields in IFD0 before its GPS pointer to directory 1
// (as tags are sorted), and the directories `after` the GPS directory.
Bytes TokyoTiffWith(std::vector<Field> before, std::vector<Directory> after = {}) {
    before.push_back(GpsPointer(1));
    std::vector<Directory> directories = {Ifd0(std::move(before)), GpsDirectory(kTokyo)};
    for (Directory& directory : after) directories.push_back(std::move(directory));
    return MakeTiff(directories);
}

// Two Exif items that both describe the primary image; `brokenFirst` puts
// the one whose TIFF header offset runs past its end first.
Bytes HeifWithTwoPrimaryExifItems(bool brokenFirst) {
    Bytes good = ExifItem(GpsTiff(kTokyo)), broken = ExifItem(GpsTiff(kSydney)), payload;
    Put(broken, 0, 0xFFFF, 4, true);
    const Bytes& first = brokenFirst ? broken : good;
    const Bytes& second = brokenFirst ? good : broken;
    Append(payload, first);
    Append(payload, second);
    return Heif(
        [&](std::uint64_t start) {
            Bytes pitm, references = Cdsc(7, 1);
            Append(pitm, 1, 2);
            Append(references, Cdsc(8, 1));
            Bytes children = FullBox("pitm", 0, pitm);
            Append(children, Iinf({Infe(1, "hvc1"), Infe(7, "Exif"), Infe(8, "Exif")}));
            Append(children, FullBox("iref", 0, references));
            Append(children, Iloc({{7, 0, first.size()}, {8, first.size(), second.size()}}, start));
            return children;
        },
        payload);
}

constexpr std::uint16_t kUndefined = 7;
const Field kExifPointerToGps = {0x8769, kLong, 1, {}, 1};
// A MakerNote whose value starts where the GPS directory starts.
const Directory kExifWithMakerNoteOnGps = {{{0x927C, kUndefined, 54, {}, 1}}};

INSTANTIATE_TEST_SUITE_P(
    Rows, StandardAnswersTest,
    testing::Values(
        Answer{"HeifExifItemCutByTheEnd",
               [] {
                   Bytes tiff = GpsTiff(kTokyo);
                   tiff.resize(tiff.size() + 64, 0);  // the item's tail, past its values
                   return MakeMultiImageHeif(1, {{1, 7, tiff}}, 16, 16);
               },
               kTokyoLatitude, kTokyoLongitude, "NE"},
        Answer{"PngExifChunkWithExifHeader",
               [] { return Png({PngChunk("eXIf", ExifPrefixed(GpsTiff(kTokyo)))}); },
               kTokyoLatitude, kTokyoLongitude, "NE"},
        Answer{"ReferencesTypedUndefined",
               [] {
                   Directory gps = GpsDirectory(kTokyo);
                   gps.fields[0] = Text(1, std::string("S\0", 2), kUndefined);
                   gps.fields[2] = Text(3, std::string("W\0", 2), kUndefined);
                   return Jpeg({ExifSegment(GpsTiff(gps))});
               },
               kTokyoLatitude, kTokyoLongitude, "SW"},
        Answer{"GifXmp",
               [] { return Gif(XmpPacket("35,39.5N", "139,44.75E")); },
               {35, 39.5},
               {139, 44.75},
               "NE"},
        Answer{"BpgExif",
               [] {
                   return Bpg({{1, GpsTiff(kTokyo)}});
               },
               kTokyoLatitude, kTokyoLongitude, "NE"},
        Answer{"BpgXmpAfterAnExifWithoutGps",
               [] {
                   const std::string xmp = XmpPacket("35,39,31N", "139,44,43E", true);
                   return Bpg({{1, kTiffWithoutGps}, {3, Bytes(xmp.begin(), xmp.end())}});
               },
               kTokyoLatitude, kTokyoLongitude, "NE"},
        Answer{"HeifPrimaryExifItemsBrokenFirst", [] { return HeifWithTwoPrimaryExifItems(true); },
               kTokyoLatitude, kTokyoLongitude, "NE"},
        Answer{"HeifPrimaryExifItemsBrokenSecond",
               [] { return HeifWithTwoPrimaryExifItems(false); }, kTokyoLatitude, kTokyoLongitude,
               "NE"},
        Answer{"GpsPointerOnTheExifDirectory",
               [] { return Jpeg({ExifSegment(TokyoTiffWith({kExifPointerToGps}))}); },
               {},
               {},
               ""},
        Answer{
            "GpsPointerOnTheMakerNote",
            [] {
                Field exif = kExifPointerToGps;
                exif.pointsTo = 2;
                // Canon's: the standard readers read its MakerNote as a directory.
                const Field make = Text(0x10F, std::string("Canon\0", 6));
                return Jpeg({ExifSegment(TokyoTiffWith({make, exif}, {kExifWithMakerNoteOnGps}))});
            },
            {},
            {},
            ""}),
    [](const testing::TestParamInfo<Answer>& info) { return std::string(info.param.name); });

}  // namespace
