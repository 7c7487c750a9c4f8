// HEIF files built in memory, with an Exif item holding the given TIFF data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bmff_file {

using Bytes = std::vector<unsigned char>;

inline void Append(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
inline void Append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes MakeBox(const std::string& type, const Bytes& body) {
    Bytes box;
    Append(box, body.size() + 8, 4);
    Append(box, type);
    Append(box, body);
    return box;
}

inline Bytes FullBoxBody(int version, const Bytes& rest) {
    Bytes body;
    Append(body, version, 1);
    Append(body, 0, 3);
    Append(body, rest);
    return body;
}

inline Bytes ExifItem(const Bytes& tiff) {
    Bytes item;
    Append(item, 6, 4);  // TIFF header offset past "Exif\0\0"
    Append(item, std::string("Exif\0\0", 6));
    Append(item, tiff);
    return item;
}

inline Bytes Infe(std::uint16_t id, const std::string& type) {
    Bytes rest;
    Append(rest, id, 2);
    Append(rest, 0, 2);
    Append(rest, type);
    Append(rest, std::string("\0", 1));  // empty item name
    return MakeBox("infe", FullBoxBody(2, rest));
}

struct Layout {
    int ilocVersion;
    int baseOffsetSize;
    int constructionMethod;  // 0: in the mdat box, 1: in idat
};

// ftyp, meta(hdlr-less: iinf, iloc, idat), mdat holding [padding, Exif item].
inline Bytes MakeHeif(const Layout& layout, const Bytes& tiff,
                      const std::string& exifType = "Exif") {
    const Bytes exif = ExifItem(tiff);
    Bytes iinfRest;
    Append(iinfRest, 2, 2);
    Append(iinfRest, Infe(1, "hvc1"));
    Append(iinfRest, Infe(7, exifType));
    const Bytes iinf = MakeBox("iinf", FullBoxBody(0, iinfRest));
    const Bytes idat = MakeBox("idat", layout.constructionMethod == 1 ? exif : Bytes{});
    const Bytes ftyp = MakeBox("ftyp", Bytes{'h', 'e', 'i', 'c', 0, 0, 0, 0});

    // The iloc box's size does not depend on the offsets it holds.
    auto makeIloc = [&](std::uint64_t mdatDataStart) {
        Bytes rest;
        Append(rest, 0x44, 1);                        // offset and length: 4 bytes
        Append(rest, layout.baseOffsetSize << 4, 1);  // base offset size, no index
        const int idSize = layout.ilocVersion < 2 ? 2 : 4;
        Append(rest, 1, idSize);  // one item
        Append(rest, 7, idSize);  // the Exif item
        if (layout.ilocVersion > 0) Append(rest, layout.constructionMethod, 2);
        Append(rest, 0, 2);  // data reference index
        const std::uint64_t where = layout.constructionMethod == 1 ? 0 : mdatDataStart + 5;
        const std::uint64_t base = layout.baseOffsetSize > 0 ? where : 0;
        Append(rest, base, layout.baseOffsetSize);
        Append(rest, 1, 2);  // one extent
        Append(rest, where - base, 4);
        Append(rest, exif.size(), 4);
        return MakeBox("iloc", FullBoxBody(layout.ilocVersion, rest));
    };
    Bytes metaBody = FullBoxBody(0, {});
    Append(metaBody, iinf);
    Append(metaBody, makeIloc(0));
    Append(metaBody, idat);
    const std::uint64_t mdatDataStart = ftyp.size() + 8 + metaBody.size() + 8;

    Bytes meta = FullBoxBody(0, {});
    Append(meta, iinf);
    Append(meta, makeIloc(mdatDataStart));
    Append(meta, idat);
    Bytes mdatBody = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    Append(mdatBody, exif);

    Bytes file = ftyp;
    Append(file, MakeBox("meta", meta));
    Append(file, MakeBox("mdat", mdatBody));
    return file;
}

}  // namespace bmff_file
