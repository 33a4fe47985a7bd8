// ZIP checker (and the formats built on it): the end-of-central-directory
// record is found whose directory ends right before it; libzip then opens
// the archive from memory with its consistency checks (each local header
// against its directory entry) and reads the entries, which checks their
// compressed data and CRCs. The item ends after the record and its comment.
#include <cstring>
#include <vector>

#include <zip.h>

#include "host/check/check.h"

namespace {

constexpr uint64_t kEocdSize = 22;
// Reading the entries stops after this much uncompressed data: a
// decompression bomb costs no more than this; the rest is checked by its
// directory alone.
constexpr uint64_t kMaxRead = uint64_t{256} << 20;

// The item's length up to the end of the comment of the first EOCD record
// that closes a directory lying right before it; 0 when there is none.
uint64_t FindEnd(CheckBytes bytes) {
    static const uint8_t kEocd[4] = {'P', 'K', 5, 6};
    uint64_t at = 4;
    while (bytes.size >= kEocdSize && at <= bytes.size - kEocdSize) {
        const void* hit = memmem(bytes.data + at, bytes.size - at, kEocd, 4);
        if (hit == nullptr) return 0;
        at = static_cast<const uint8_t*>(hit) - bytes.data;
        if (at > bytes.size - kEocdSize) return 0;
        const uint8_t* record = bytes.data + at;
        const uint64_t end = at + kEocdSize + Le16(record + 20);
        const uint32_t cd_size = Le32(record + 12), cd_offset = Le32(record + 16);
        const bool zip64 = cd_offset == 0xFFFFFFFF || cd_size == 0xFFFFFFFF;
        if (end <= bytes.size && Le16(record + 4) == 0 && Le16(record + 6) == 0 &&
            (zip64 || uint64_t{cd_offset} + cd_size == at)) {
            return end;
        }
        ++at;
    }
    return 0;
}

// Reads every entry; false when one is damaged.
bool ReadEntries(zip_t* archive, const char** reason) {
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
            *reason = "bad entry";
            return false;
        }
        zip_int64_t n = 0;
        while (read < kMaxRead && (n = zip_fread(file, buffer.data(), buffer.size())) > 0) read += n;
        zip_fclose(file);
        if (n < 0) {
            *reason = "bad entry data";
            return false;
        }
    }
    return true;
}

}  // namespace

CheckResult CheckZip(CheckBytes bytes) {
    const uint64_t end = FindEnd(bytes);
    if (end == 0) return CheckInvalid("zip", "no central directory");
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data, end, 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return CheckUnknown("zip", "no memory");
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    zip_error_fini(&error);
    if (archive == nullptr) {
        zip_source_free(source);
        return CheckInvalid("zip", "bad central directory");
    }
    const char* reason = "";
    const bool good = ReadEntries(archive, &reason);
    zip_discard(archive);
    return good ? CheckValid("zip", end) : CheckInvalid("zip", reason);
}
