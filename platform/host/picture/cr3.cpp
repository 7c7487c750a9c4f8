// CR3: the GPS directory in the CMT4 box of Canon's uuid box in moov.
#include <cstring>

#include "platform/host/picture/bmff.h"
#include "platform/host/picture/readers.h"
#include "platform/host/picture/tiff.h"

namespace host {

namespace {

using bmff::FourCc;

constexpr int kMostTopLevelBoxes = 64;
constexpr int kMostMoovBoxes = 1024;                  // a trak per stream, Canon's uuid, a few more
constexpr int kMostCanonBoxes = 64;                   // CNCV, CCTP, CTBO, CMT1-4, THMB, ...
constexpr std::uint64_t kLargestGpsBlock = 1u << 20;  // a few hundred bytes in practice

const unsigned char kCanonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                      0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

// The body of Canon's uuid box among moov's children, after the uuid.
bool FindCanonBox(const ByteView& moov, ByteView* canon) {
    bmff::BoxWalker boxes(moov, kMostMoovBoxes);
    bmff::Box box;
    while (boxes.Next(&box)) {
        const ByteView body = boxes.Body(box);
        unsigned char uuid[16];
        if (box.type == FourCc("uuid") && body.Copy(0, 16, uuid) &&
            std::memcmp(uuid, kCanonUuid, 16) == 0) {
            *canon = body.From(16);
            return true;
        }
    }
    return false;
}

}  // namespace

// CMT4 is a TIFF structure whose first directory is the GPS directory.
bool ReadCr3Gps(const ByteView& file, GpsMetadata* position) {
    ByteView moov = file, canon = file, block = file;
    TiffHeader header;
    return bmff::FindChild(file, FourCc("moov"), kMostTopLevelBoxes, &moov) &&
           FindCanonBox(moov, &canon) &&
           bmff::FindChild(canon, FourCc("CMT4"), kMostCanonBoxes, &block) &&
           block.Size() <= kLargestGpsBlock && ReadTiffHeader(block, &header) &&
           header.magic == kTiffMagic &&
           ReadGpsDirectory(block, header.endian, header.firstDirectory, position);
}

}  // namespace host
