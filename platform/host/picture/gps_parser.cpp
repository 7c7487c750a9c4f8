// Reading a picture's GPS metadata with exiv2. Its exceptions stop here.
#include "platform/host/picture/gps_parser.h"

#include "platform/host/picture/exif_gps.h"
#include "platform/host/picture/exiv2_compat.h"
#include "platform/host/picture/own_exif.h"

// exiv2.hpp leaves out WebP; 0.27's headers declare std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/webpimage.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
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

bool IsBmff(const Exiv2::Image& image) { return image.imageType() == Exiv2::ImageType::bmff; }

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

// Reads what exiv2 finds in the picture. On a HEIF or AVIF file, exiv2's
// refusal is not the last word: it throws on some HDR AVIF files ("corrupted
// image metadata"), on CR3 files of current bodies and on boxes that claim
// more than the file holds (which may cost it an allocation that fails),
// while the item tables still lead to the EXIF, so the file counts as one
// where exiv2 found nothing.
void ReadExiv2Metadata(Exiv2::Image& image) {
    if (!IsBmff(image)) {
        image.readMetadata();
        return;
    }
    try {
        image.readMetadata();
    } catch (const std::exception&) {  // exiv2's errors included
        image.clearMetadata();         // whatever it had read before it gave up
    }
}

bool HasGpsPosition(const Exiv2::ExifData& exif) {
    return Find(exif, "Exif.GPSInfo.GPSLatitude") != exif.end() &&
           Find(exif, "Exif.GPSInfo.GPSLongitude") != exif.end();
}

// Where exiv2 finds no position, our own readers may (own_exif.h): HEIF
// tables exiv2 0.27 misreads or that a cut-short file still holds, the
// other images of a multi-image HEIF, CR3, PNG raw profiles, JPEG XR. The
// first block with a position wins, else the first one found.
void ReadOwnExifData(const unsigned char* data, std::size_t size, Exiv2::ExifData* exif) {
    std::vector<std::vector<unsigned char>> tiffs;
    if (!ReadOwnExifBlocks(data, size, &tiffs)) return;
    for (const std::vector<unsigned char>& tiff : tiffs) {
        Exiv2::ExifData decoded;
        Exiv2::ExifParser::decode(decoded, tiff.data(), static_cast<std::uint32_t>(tiff.size()));
        if (HasGpsPosition(decoded)) {
            *exif = std::move(decoded);
            return;
        }
        if (exif->empty()) *exif = std::move(decoded);
    }
}

// Reads a plain decimal number (digits, at most one point); nothing else.
bool ParseDecimal(const char* first, const char* last, double* number) {
    if (first == last) return false;
    for (const char* c = first; c != last; ++c) {
        if ((*c < '0' || *c > '9') && *c != '.') return false;
    }
    const auto result = std::from_chars(first, last, *number, std::chars_format::fixed);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(*number);
}

}  // namespace

bool ParseXmpCoordinate(const std::string& text, GpsCoordinateData* coordinate) {
    if (text.size() < 2) return false;
    const char letter = text.back();
    if (letter != 'N' && letter != 'S' && letter != 'E' && letter != 'W') return false;

    std::vector<double> parts;
    const char* first = text.data();
    const char* const end = text.data() + text.size() - 1;
    while (true) {
        const char* comma = std::find(first, end, ',');
        double number = 0.0;
        if (!ParseDecimal(first, comma, &number)) return false;
        parts.push_back(number);
        if (comma == end) break;
        first = comma + 1;
    }
    // "DDD,MM,SSk" or "DDD,MM.mmk"
    if (parts.size() != 2 && parts.size() != 3) return false;
    coordinate->present = true;
    coordinate->parts = std::move(parts);
    coordinate->reference = std::string(1, letter);
    return true;
}

void PrepareGpsParsing() { ConfigureExiv2Once(); }

HRESULT ParseGpsMetadata(const unsigned char* data, std::size_t size, GpsMetadata* metadata) {
    // Our bounded Exif GPS reader first: it touches a few pages where exiv2
    // may read the whole file; whatever it does not find, exiv2 reads.
    try {
        if (ReadExifGpsPosition(data, size, metadata)) return S_OK;
    } catch (const std::bad_alloc&) {  // the copy of a HEIF file's Exif item
        return E_OUTOFMEMORY;
    }
    return ParseGpsMetadataWithExiv2(data, size, metadata);
}

HRESULT ParseGpsMetadataWithExiv2(const unsigned char* data, std::size_t size,
                                  GpsMetadata* metadata) {
    try {
        ConfigureExiv2Once();
        if (data == nullptr || size == 0) return E_FAIL;
        // A CR3 or JPEG XR that this exiv2 does not type as a picture goes
        // to our own reader only.
        const bool exiv2Reads = IsStillPictureType(Exiv2::ImageFactory::getType(data, size));
        if (!exiv2Reads && !HasOwnReaderSignature(data, size)) return E_FAIL;
        const std::unique_ptr<Exiv2::Image> image =
            exiv2Reads ? exiv2::OpenImage(std::make_unique<Exiv2::MemIo>(data, size)) : nullptr;
        if (exiv2Reads && image == nullptr) return E_FAIL;
        if (image != nullptr) ReadExiv2Metadata(*image);
        const Exiv2::ExifData noExif;
        const Exiv2::XmpData noXmp;
        const Exiv2::ExifData& exif = image != nullptr ? image->exifData() : noExif;
        const Exiv2::XmpData& xmp = image != nullptr ? image->xmpData() : noXmp;
        Exiv2::ExifData ownExif;
        if (!HasGpsPosition(exif)) ReadOwnExifData(data, size, &ownExif);
        const Exiv2::ExifData& found = HasGpsPosition(ownExif) || exif.empty() ? ownExif : exif;
        metadata->latitude = ReadCoordinate(found, xmp, "Latitude");
        metadata->longitude = ReadCoordinate(found, xmp, "Longitude");
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
