// The one place that knows which exiv2 series the host is built against.
// 0.27 (Debian 12) hands out std::auto_ptr and throws Exiv2::AnyError with
// plain error codes; 0.28 (Debian 13 and later) hands out std::unique_ptr
// and throws Exiv2::Error with scoped ones. The rest of the host holds
// std::unique_ptr and uses the names below.
#pragma once

#include <memory>

// exiv2 0.27's headers declare std::auto_ptr, which C++17 marks deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

namespace host::exiv2 {

#if EXIV2_TEST_VERSION(0, 28, 0)
using Error = Exiv2::Error;
constexpr Exiv2::ErrorCode kFailedToMapFileForReadWrite =
    Exiv2::ErrorCode::kerFailedToMapFileForReadWrite;
#else
using Error = Exiv2::AnyError;
constexpr Exiv2::ErrorCode kFailedToMapFileForReadWrite = Exiv2::kerFailedToMapFileForReadWrite;
#endif

// What ImageFactory::getType answers: an int in 0.27, the scoped ImageType in
// 0.28, which also names apart the TIFF-based raws that 0.27 counts as TIFF.
#if EXIV2_TEST_VERSION(0, 28, 0)
using ImageType = Exiv2::ImageType;
inline constexpr ImageType kTiffBasedRaws[] = {ImageType::arw, ImageType::dng, ImageType::nef,
                                               ImageType::pef, ImageType::sr2, ImageType::srw};
#else
using ImageType = int;
inline constexpr ImageType kTiffBasedRaws[] = {Exiv2::ImageType::tiff};
#endif

// The picture that `io` reads, or null where exiv2 knows no such format.
inline std::unique_ptr<Exiv2::Image> OpenImage(std::unique_ptr<Exiv2::BasicIo> io) {
#if EXIV2_TEST_VERSION(0, 28, 0)
    return Exiv2::ImageFactory::open(std::move(io));
#else
    // The one place that holds an auto_ptr: clang warns where it is named.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Exiv2::BasicIo::AutoPtr handed(io.release());
#pragma GCC diagnostic pop
    return std::unique_ptr<Exiv2::Image>(Exiv2::ImageFactory::open(handed).release());
#endif
}

// 0.27 reads HEIC and AVIF as nothing until asked to; 0.28 always reads them.
inline void EnableBmff() {
#if !EXIV2_TEST_VERSION(0, 28, 0)
    Exiv2::enableBMFF(true);
#endif
}

}  // namespace host::exiv2
