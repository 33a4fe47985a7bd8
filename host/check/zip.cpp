// ZIP checker (and the formats built on it): the local entries are walked
// from the item's start to the central directory and its end record; libzip then opens
// the archive from memory with its consistency checks (each local header
// against its directory entry) and reads the entries, which checks their
// compressed data and CRCs. The item ends after the record and its comment.
// Its entry names then say what the archive is (docx, odt, jar, apk...).
#include <cstring>
#include <iterator>
#include <string_view>
#include <vector>

#include <zip.h>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum ZipReason : uint8_t {
    kNoReason,
    kNoCentralDirectory,
    kNoMemory,
    kBadCentralDirectory,
    kBadEntry,
    kBadEntryData,
    kReasonCount,
};

constexpr uint64_t kEocdSize = 22;
// Reading the entries stops after this much uncompressed data: a
// decompression bomb costs no more than this; the rest is checked by its
// directory alone.
constexpr uint64_t kMaxRead = uint64_t{256} << 20;

constexpr uint32_t kLocalSignature = 0x04034b50;       // PK 03 04
constexpr uint32_t kCentralSignature = 0x02014b50;     // PK 01 02
constexpr uint32_t kDescriptorSignature = 0x08074b50;  // PK 07 08
constexpr uint32_t kEocdSignature = 0x06054b50;        // PK 05 06
constexpr uint32_t kZip64EocdSignature = 0x06064b50;   // PK 06 06
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;  // PK 06 07
constexpr uint64_t kLocalHeaderSize = 30;
constexpr uint64_t kCentralHeaderSize = 46;

// The compressed size of a local entry whose header says 0xFFFFFFFF: the
// ZIP64 extra field's second value.
bool Zip64CompressedSize(const uint8_t* extra, uint64_t length, uint64_t* size) {
    for (uint64_t at = 0; at + 4 <= length;) {
        const uint64_t id = Le16(extra + at), data = Le16(extra + at + 2);
        if (at + 4 + data > length) return false;
        if (id == 1 && data >= 16) {
            *size = Le64(extra + at + 12);
            return true;
        }
        at += 4 + data;
    }
    return false;
}

// The end of a streamed entry's data (flag bit 3, sizes in a descriptor
// after the data): the first PK 07 08 whose compressed size is the
// distance from data; *after gets the end of the descriptor.
bool FindDescriptor(CheckBytes bytes, uint64_t data, uint64_t* after) {
    static const uint8_t kSignature[4] = {'P', 'K', 7, 8};
    for (uint64_t at = data; at + 16 <= bytes.size;) {
        const void* hit = memmem(bytes.data + at, bytes.size - at, kSignature, 4);
        if (hit == nullptr) return false;
        at = static_cast<const uint8_t*>(hit) - bytes.data;
        const uint8_t* d = bytes.data + at;
        if (at + 16 <= bytes.size && Le32(d + 8) == at - data) {
            *after = at + 16;
            return true;
        }
        if (at + 24 <= bytes.size && Le64(d + 8) == at - data) {
            *after = at + 24;
            return true;
        }
        ++at;
    }
    return false;
}

// Walks the local entries from the item's start, each header, name, extra
// field and data in turn, to where the central directory begins; 0 when
// the bytes break off into something else first (a fragment of a deleted
// archive, or an entry in the middle of one). Each step moves forward, so
// the walk costs at most the archive's length, never the rest of the data.
uint64_t CentralDirectoryStart(CheckBytes bytes) {
    uint64_t at = 0;
    while (at <= bytes.size && bytes.size - at >= 4) {
        const uint8_t* header = bytes.data + at;
        if (Le32(header) == kCentralSignature) return at;
        if (Le32(header) != kLocalSignature || bytes.size - at < kLocalHeaderSize) return 0;
        const uint64_t name = Le16(header + 26), extra = Le16(header + 28);
        const uint64_t data = at + kLocalHeaderSize + name + extra;
        if (data > bytes.size) return 0;
        uint64_t compressed = Le32(header + 18);
        const bool zip64 = compressed == 0xFFFFFFFF;
        if (zip64 && !Zip64CompressedSize(header + kLocalHeaderSize + name, extra, &compressed)) {
            return 0;
        }
        const bool streamed = (Le16(header + 6) & 8) != 0;
        if (streamed && compressed == 0) {
            if (!FindDescriptor(bytes, data, &at)) return 0;
            continue;
        }
        if (compressed > bytes.size - data) return 0;
        at = data + compressed;
        // A streamed entry's descriptor follows its data even where the
        // header has the sizes: signature, CRC and two sizes of 4 bytes, or
        // of 8 for a ZIP64 entry.
        if (streamed && bytes.size - at >= 4 && Le32(bytes.data + at) == kDescriptorSignature) {
            at += zip64 ? 24 : 16;
        }
    }
    return 0;
}

// The item's length up to the end of the comment of the end-of-central-
// directory record that closes the directory which the local entries lead
// to; 0 when there is none.
uint64_t FindEnd(CheckBytes bytes) {
    const uint64_t directory = CentralDirectoryStart(bytes);
    if (directory == 0) return 0;
    uint64_t at = directory;
    while (at <= bytes.size && bytes.size - at >= 4 && Le32(bytes.data + at) == kCentralSignature) {
        if (bytes.size - at < kCentralHeaderSize) return 0;
        const uint8_t* entry = bytes.data + at;
        at += kCentralHeaderSize + Le16(entry + 28) + Le16(entry + 30) + Le16(entry + 32);
    }
    // ZIP64: its end record and locator stand before the classic record.
    if (at <= bytes.size && bytes.size - at >= 12 && Le32(bytes.data + at) == kZip64EocdSignature) {
        const uint64_t record = Le64(bytes.data + at + 4);
        if (record > bytes.size - at - 12) return 0;
        at += 12 + record;
        if (bytes.size - at >= 20 && Le32(bytes.data + at) == kZip64LocatorSignature) at += 20;
    }
    if (at > bytes.size || bytes.size - at < kEocdSize || Le32(bytes.data + at) != kEocdSignature) {
        return 0;
    }
    const uint8_t* record = bytes.data + at;
    const uint32_t cd_size = Le32(record + 12), cd_offset = Le32(record + 16);
    const bool zip64 = cd_offset == 0xFFFFFFFF || cd_size == 0xFFFFFFFF;
    if (!zip64 && cd_offset != directory) return 0;
    const uint64_t end = at + kEocdSize + Le16(record + 20);
    return end <= bytes.size ? end : 0;
}

// Reads every entry; false when one is damaged.
bool ReadEntries(zip_t* archive, ZipReason* reason) {
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    std::vector<char> buffer(64 << 10);
    uint64_t read = 0;
    for (zip_int64_t i = 0; i < count && read < kMaxRead; ++i) {
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (file == nullptr) {
            const int code = zip_error_code_zip(zip_get_error(archive));
            // Entries that libzip cannot decode are checked by the directory alone.
            if (code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_NOPASSWD || code == ZIP_ER_COMPNOTSUPP) {
                zip_error_clear(archive);
                continue;
            }
            *reason = kBadEntry;
            return false;
        }
        zip_int64_t n = 0;
        while (read < kMaxRead && (n = zip_fread(file, buffer.data(), buffer.size())) > 0) read += n;
        zip_fclose(file);
        if (n < 0) {
            *reason = kBadEntryData;
            return false;
        }
    }
    return true;
}

// The local header of the directory entry index agrees with it where a
// streamed entry's header may differ: the same name and method. libzip's
// consistency check wants a streamed entry's local sizes and CRC all zero,
// while Info-ZIP writing to a pipe puts the uncompressed size there; the
// data and its CRC are still checked when the entries are read.
bool LocalHeadersAgree(CheckBytes bytes, uint64_t end) {
    const uint64_t directory = CentralDirectoryStart(bytes);
    for (uint64_t at = directory; at + kCentralHeaderSize <= end;) {
        const uint8_t* entry = bytes.data + at;
        if (Le32(entry) != kCentralSignature) return true;
        const uint64_t name = Le16(entry + 28), local = Le32(entry + 42);
        if (local == 0xFFFFFFFF || local + kLocalHeaderSize + name > directory) return false;
        const uint8_t* header = bytes.data + local;
        if (Le32(header) != kLocalSignature || Le16(header + 26) != name ||
            Le16(header + 8) != Le16(entry + 10) ||
            std::memcmp(header + kLocalHeaderSize, entry + kCentralHeaderSize, name) != 0) {
            return false;
        }
        const bool streamed = (Le16(header + 6) & 8) != 0;
        if (!streamed && (Le32(header + 14) != Le32(entry + 16) || Le32(header + 18) != Le32(entry + 20) ||
                          Le32(header + 22) != Le32(entry + 24))) {
            return false;
        }
        at += kCentralHeaderSize + name + Le16(entry + 30) + Le16(entry + 32);
    }
    return true;
}

// What the entry names make of an archive: an extension and a description.
struct Kind {
    const char* extension;
    const char* description;
};

bool Has(zip_t* archive, const char* name) { return zip_name_locate(archive, name, 0) >= 0; }

bool HasSuffix(zip_t* archive, std::string_view suffix) {
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr) continue;
        const std::string_view view(name);
        if (view.size() >= suffix.size() && view.substr(view.size() - suffix.size()) == suffix) return true;
    }
    return false;
}

// The media type in a first entry named "mimetype" (OpenDocument, EPUB).
std::string_view MimeType(zip_t* archive, char (&buffer)[80]) {
    const char* first = zip_get_name(archive, 0, 0);
    if (first == nullptr || std::strcmp(first, "mimetype") != 0) return {};
    zip_file_t* file = zip_fopen_index(archive, 0, 0);
    if (file == nullptr) return {};
    const zip_int64_t n = zip_fread(file, buffer, sizeof(buffer));
    zip_fclose(file);
    return n > 0 ? std::string_view(buffer, static_cast<size_t>(n)) : std::string_view();
}

Kind NameByContent(zip_t* archive) {
    char buffer[80];
    const std::string_view mime = MimeType(archive, buffer);
    static const struct {
        std::string_view mime;
        Kind kind;
    } kMimeTypes[] = {
        {"application/vnd.oasis.opendocument.text", {"odt", "OpenDocument text"}},
        {"application/vnd.oasis.opendocument.spreadsheet", {"ods", "OpenDocument spreadsheet"}},
        {"application/vnd.oasis.opendocument.presentation", {"odp", "OpenDocument presentation"}},
        {"application/vnd.oasis.opendocument.graphics", {"odg", "OpenDocument drawing"}},
        {"application/epub+zip", {"epub", "EPUB book"}},
    };
    for (const auto& row : kMimeTypes) {
        if (mime == row.mime) return row.kind;
    }
    if (Has(archive, "[Content_Types].xml")) {
        if (Has(archive, "word/document.xml")) return {"docx", "Word document"};
        if (Has(archive, "xl/workbook.xml")) return {"xlsx", "Excel workbook"};
        if (Has(archive, "ppt/presentation.xml")) return {"pptx", "PowerPoint presentation"};
    }
    if (Has(archive, "AndroidManifest.xml") && Has(archive, "classes.dex")) return {"apk", "Android package"};
    if (Has(archive, "manifest.json") && (Has(archive, "META-INF/mozilla.rsa") || Has(archive, "META-INF/cose.sig"))) {
        return {"xpi", "Firefox extension"};
    }
    if (Has(archive, "install.rdf")) return {"xpi", "Firefox extension"};
    if (Has(archive, "META-INF/MANIFEST.MF")) return {"jar", "Java archive"};
    if (HasSuffix(archive, ".dist-info/WHEEL")) return {"whl", "Python wheel"};
    return {nullptr, nullptr};
}

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "",
    "no central directory",
    "no memory",
    "bad central directory",
    "bad entry",
    "bad entry data",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

bool ZipMayStart(CheckBytes bytes) {
    if (bytes.size < 4 || Le32(bytes.data) != kLocalSignature) return true;
    return FindEnd(bytes) != 0;
}

CheckResult CheckZip(CheckBytes bytes) {
    const uint64_t end = FindEnd(bytes);
    if (end == 0) return CheckInvalid(kNoCentralDirectory);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data, end, 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return CheckUnknown(kNoMemory);
    }
    // A failed open leaves the source to its caller: a second open can use it.
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (archive == nullptr && zip_error_code_zip(&error) == ZIP_ER_INCONS && LocalHeadersAgree(bytes, end)) {
        archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    }
    zip_error_fini(&error);
    if (archive == nullptr) {
        zip_source_free(source);
        return CheckInvalid(kBadCentralDirectory);
    }
    ZipReason reason = kNoReason;
    const bool good = ReadEntries(archive, &reason);
    const Kind kind = good ? NameByContent(archive) : Kind{nullptr, nullptr};
    zip_discard(archive);
    if (!good) return CheckInvalid(reason);
    CheckResult result = CheckValid(end);
    result.extension = kind.extension;
    result.description = kind.description;
    return result;
}

extern const Checker kZipChecker = {CheckZip, kReasons, std::size(kReasons), ZipMayStart};
