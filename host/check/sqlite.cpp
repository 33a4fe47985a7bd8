// SQLite checker: the header's page size and page count give the end; the
// database is then opened from memory, read-only, by SQLite itself, and
// PRAGMA quick_check reads every page of every b-tree (the checks of
// integrity_check short of matching indexes against their tables). The
// check stops after a number of virtual machine steps: a larger database
// is then unchecked.
#include <sqlite3.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "host/check/check.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum SqliteReason : uint8_t {
    kNoReason,
    kCutShort,
    kBadHeader,
    kNoPageCount,
    kCannotOpen,
    kDamaged,
    kTooLong,
    kReasonCount,
};

constexpr uint64_t kHeaderSize = 100;
// Progress handler calls of 1000 steps each; quick_check of a database of
// a few GiB stays within it.
constexpr int kMaxProgressCalls = 2000000;
// WAL-mode databases are copied to be opened in rollback mode (the memory
// database cannot open a WAL); larger ones are unchecked.
constexpr uint64_t kMaxCopy = uint64_t{256} << 20;

int CountSteps(void* calls) { return ++*static_cast<int*>(calls) > kMaxProgressCalls; }

}  // namespace

// The texts of the reasons, by code.
const char* const kReasons[] = {
    "", "cut short", "bad header", "no valid page count", "cannot open", "damaged", "too long to check",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

CheckResult CheckSqlite(CheckBytes bytes) {
    if (bytes.size < kHeaderSize) return CheckInvalid(kCutShort);
    const uint8_t* h = bytes.data;
    const uint32_t field = uint32_t{h[16]} << 8 | h[17];
    const uint64_t page_size = field == 1 ? 65536 : field;
    if (page_size < 512 || (page_size & (page_size - 1)) != 0 || h[18] < 1 || h[18] > 2 || h[19] < 1 ||
        h[19] > 2 || h[21] != 64 || h[22] != 32 || h[23] != 32) {
        return CheckInvalid(kBadHeader);
    }
    // The page count is valid only when written by the change it counts.
    const uint64_t pages = Be32(h + 28);
    if (pages == 0 || Be32(h + 24) != Be32(h + 92)) return CheckUnknown(kNoPageCount);
    const uint64_t end = pages * page_size;
    if (end > bytes.size) return CheckInvalid(kCutShort);

    std::vector<uint8_t> copy;
    unsigned char* image = const_cast<unsigned char*>(bytes.data);  // read-only below
    if (h[18] == 2 || h[19] == 2) {
        if (end > kMaxCopy) return CheckUnknown(kTooLong);
        copy.assign(bytes.data, bytes.data + end);
        copy[18] = copy[19] = 1;
        image = copy.data();
    }
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return CheckUnknown(kCannotOpen);
    }
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    if (sqlite3_deserialize(db.get(), "main", image, static_cast<sqlite3_int64>(end),
                            static_cast<sqlite3_int64>(end), SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
        return CheckInvalid(kCannotOpen);
    }
    int calls = 0;
    sqlite3_progress_handler(db.get(), 1000, CountSteps, &calls);
    sqlite3_stmt* raw_statement = nullptr;
    if (sqlite3_prepare_v2(db.get(), "PRAGMA quick_check(1)", -1, &raw_statement, nullptr) != SQLITE_OK) {
        return CheckInvalid(kDamaged);
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw_statement, sqlite3_finalize);
    const int status = sqlite3_step(statement.get());
    if (status == SQLITE_INTERRUPT) return CheckUnknown(kTooLong);
    if (status != SQLITE_ROW) return CheckInvalid(kDamaged);
    const unsigned char* answer = sqlite3_column_text(statement.get(), 0);
    if (answer == nullptr || std::strcmp(reinterpret_cast<const char*>(answer), "ok") != 0) {
        return CheckInvalid(kDamaged);
    }
    return CheckValid(end);
}

extern const Checker kSqliteChecker = {CheckSqlite, kReasons, std::size(kReasons), nullptr};
