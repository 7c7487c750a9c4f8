// Reading a picture's GPS metadata with exiv2. Its exceptions stop here.
#include "platform/host/picture/exiv2_reader.h"

#include "platform/host/picture/exiv2_compat.h"
#include "platform/host/picture/xmp.h"

// exiv2.hpp leaves out WebP; 0.27's headers declare std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/webpimage.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace host {

namespace {

void ConfigureExiv2Once() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        exiv2::EnableBmff();
        // The XMP toolkit is left to start when a picture has XMP: set up
        // ahead, it would cost most of a read (one thread, so no race).
    });
}

// Appends each rational as one double; false on a zero denominator.
template <typename Rational>
bool AppendRationals(const std::vector<Rational>& rationals, std::vector<double>* parts) {
    for (const Rational& rational : rationals) {
        if (rational.second == 0) return false;
        parts->push_back(static_cast<double>(rational.first) / rational.second);
    }
    return true;
}

// Unsigned rationals are read as such: toRational() would turn numerators
// above 2^31 negative.
bool ExifParts(const Exiv2::Value& value, std::vector<double>* parts) {
    if (const auto* unsignedValue = dynamic_cast<const Exiv2::URationalValue*>(&value)) {
        return AppendRationals(unsignedValue->value_, parts) && !parts->empty();
    }
    if (const auto* signedValue = dynamic_cast<const Exiv2::RationalValue*>(&value)) {
        return AppendRationals(signedValue->value_, parts) && !parts->empty();
    }
    return false;
}

std::string AsciiText(const Exiv2::Value& value) {
    std::string text = value.toString();
    const std::size_t end = text.find('\0');
    return end == std::string::npos ? text : text.substr(0, end);
}

Exiv2::ExifData::const_iterator Find(const Exiv2::ExifData& exif, const std::string& key) {
    return exif.findKey(Exiv2::ExifKey(key));
}

Exiv2::XmpData::const_iterator Find(const Exiv2::XmpData& xmp, const std::string& key) {
    return xmp.findKey(Exiv2::XmpKey(key));
}

// axis is "Latitude" or "Longitude".
GpsCoordinateData ReadCoordinate(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp,
                                 const std::string& axis) {
    GpsCoordinateData coordinate;
    const auto value = Find(exif, "Exif.GPSInfo.GPS" + axis);
    const auto reference = Find(exif, "Exif.GPSInfo.GPS" + axis + "Ref");
    if (reference != exif.end()) coordinate.reference = AsciiText(reference->value());
    if (value != exif.end() && ExifParts(value->value(), &coordinate.parts)) {
        coordinate.present = true;
        return coordinate;
    }
    coordinate.parts.clear();

    const auto xmpValue = Find(xmp, "Xmp.exif.GPS" + axis);
    if (xmpValue != xmp.end()) {
        GpsCoordinateData fromXmp;
        if (ParseXmpCoordinate(xmpValue->toString(), &fromXmp)) return fromXmp;
    }
    return coordinate;
}

// Still pictures and camera raws only: exiv2's readers of video (Matroska,
// RIFF/AVI, QuickTime, ASF), of PostScript and of metadata sidecars are
// never run, whatever else exiv2 was built with.
bool IsStillPictureType(exiv2::ImageType type) {
    // TIFF stands for the TIFF-based raws (DNG, NEF, PEF, ARW, SR2, SRW)
    // where exiv2 does not name them apart, BMFF for HEIF, AVIF, JPEG XL and
    // CR3.
    const exiv2::ImageType pictures[] = {
        Exiv2::ImageType::jpeg, Exiv2::ImageType::tiff, Exiv2::ImageType::cr2,
        Exiv2::ImageType::crw,  Exiv2::ImageType::mrw,  Exiv2::ImageType::orf,
        Exiv2::ImageType::raf,  Exiv2::ImageType::rw2,  Exiv2::ImageType::png,
        Exiv2::ImageType::webp, Exiv2::ImageType::bmff, Exiv2::ImageType::jp2,
        Exiv2::ImageType::psd,  Exiv2::ImageType::gif,  Exiv2::ImageType::bmp,
        Exiv2::ImageType::tga,  Exiv2::ImageType::pgf};
    const auto among = [type](const auto& types) {
        return std::find(std::begin(types), std::end(types), type) != std::end(types);
    };
    return among(pictures) || among(exiv2::kTiffBasedRaws);
}

}  // namespace

void PrepareExiv2Reading() { ConfigureExiv2Once(); }

HRESULT ReadGpsWithExiv2(const unsigned char* data, std::size_t size, GpsMetadata* metadata) {
    try {
        ConfigureExiv2Once();
        if (data == nullptr || size == 0) return E_FAIL;
        if (!IsStillPictureType(Exiv2::ImageFactory::getType(data, size))) return E_FAIL;
        const std::unique_ptr<Exiv2::Image> image =
            exiv2::OpenImage(std::make_unique<Exiv2::MemIo>(data, size));
        if (image == nullptr) return E_FAIL;
        image->readMetadata();
        metadata->latitude = ReadCoordinate(image->exifData(), image->xmpData(), "Latitude");
        metadata->longitude = ReadCoordinate(image->exifData(), image->xmpData(), "Longitude");
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {  // exiv2's errors included
        return E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace host
