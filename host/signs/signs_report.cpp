// "hound signs": the loader run with an observer that records, with its
// place, every signature built and every section or include passed over.
#include "host/signs/signs_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "host/signs/signs_tokens.h"
#include "markhound/database/load_observer.h"
#include "markhound/database/loader.h"
#include "markhound/platform/platform.h"
#include "markhound/platform/posix_paths.h"
#include "markhound/signatures/signature_list.h"

namespace {

constexpr uint32_t kValueSize = 261;  // as the loader reads values

std::string Native(const char* windows_path) {
    if (windows_path == nullptr) return "";
    std::string native(std::strlen(windows_path) + 1, '\0');
    if (!NativeFromDriveForm(windows_path, native.data(), native.size())) return windows_path;
    native.resize(std::strlen(native.c_str()));
    return native;
}

std::string PatternText(const PatternArray& pattern, uint32_t* exact_bytes) {
    std::string text;
    uint32_t exact = 0;
    for (int32_t i = 0; i < pattern.Count(); ++i) {
        const auto* element = static_cast<const PatternByte*>(pattern.Item(i));
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", element->value);
        text += (i > 0 ? " " : "") + std::string(element->exact ? byte : "??");
        if (element->exact) ++exact;
    }
    if (exact_bytes != nullptr) *exact_bytes = exact;
    return text;
}

SignsSignature Describe(const SizedSignature& signature) {
    SignsSignature described;
    described.name = signature.name.text;
    described.ext = signature.ext.text;
    described.pattern = PatternText(signature.pattern, &described.exact_bytes);
    if (const auto* bounded = dynamic_cast<const BoundedSignature*>(&signature)) {
        described.bounded = true;
        described.end_pattern = PatternText(bounded->end_pattern, nullptr);
        described.limit_size = bounded->limit_size();
        described.start_offset = bounded->start_offset;
        described.end_offset = bounded->end_offset;
    } else {
        described.size_offset = signature.size_offset;
        described.size_width = signature.size_width;
        described.size_addon = signature.size_addon;
    }
    return described;
}

// The loader's place of a signature, kept for reading its values again.
struct Origin {
    std::string windows_file;
    std::string section;
    size_t order = 0;  // events seen before it: warnings sort by it
};

class Collector : public LoadObserver {
public:
    explicit Collector(SignsReport* report) : report_(*report) {}

    void OnLoadEvent(const LoadReport& event) override;

    std::map<const SizedSignature*, Origin> added;  // every complete signature
    std::map<const SizedSignature*, Origin> created;
    std::vector<size_t> passed_order, warning_order;
    size_t events = 0;

private:
    SignsPlace Place(const LoadReport& event) const {
        return {Native(event.file), event.section != nullptr ? event.section : ""};
    }
    // A finding of event, added to list with its place in the event order.
    SignsFinding& Add(std::vector<SignsFinding>& list, std::vector<size_t>& order,
                      const LoadReport& event, SignsReason reason) {
        list.push_back({});
        order.push_back(events);
        SignsFinding& finding = list.back();
        finding.where = Place(event);
        finding.reason = reason;
        finding.key = event.key != nullptr ? event.key : "";
        return finding;
    }
    SignsFinding& PassOver(const LoadReport& event, SignsReason reason) {
        SignsFinding& finding = Add(report_.passed_over, passed_order, event, reason);
        finding.number = event.number;
        return finding;
    }
    SignsFinding& Warn(const LoadReport& event, SignsReason reason) {
        return Add(report_.warnings, warning_order, event, reason);
    }
    void Settle(const SizedSignature* signature, SignsOutcome outcome, const SignsPlace& where);

    SignsReport& report_;
    // The include section last resolved: an absolute include that names a
    // missing file shows as that include followed by the file missing.
    SignsPlace include_place_;
    std::string include_path_;
    // Sections that left a sized signature pending, by signature.
    std::map<const SizedSignature*, std::vector<size_t>> pending_;
};

void Collector::Settle(const SizedSignature* signature, SignsOutcome outcome,
                       const SignsPlace& where) {
    const auto found = pending_.find(signature);
    if (found == pending_.end()) return;
    for (size_t index : found->second) {
        report_.passed_over[index].outcome = outcome;
        report_.passed_over[index].outcome_place = where;
    }
    pending_.erase(found);
}

void Collector::OnLoadEvent(const LoadReport& event) {
    ++events;
    const std::string include_path = std::move(include_path_);
    include_path_.clear();
    switch (event.event) {
        case LoadEvent::kFileRead:
            report_.files.push_back({Native(event.file), event.number,
                                     event.number > 0 ? include_place_ : SignsPlace{}});
            break;
        case LoadEvent::kFileMissing:
            if (!include_path.empty() && include_path == event.file) {
                SignsFinding& finding = PassOver(event, SignsReason::kIncludeMissing);
                finding.where = include_place_;
                finding.key = "Include";
                finding.paths = {Native(event.file)};
            } else {
                report_.missing = true;
            }
            break;
        case LoadEvent::kSectionsCut:
            PassOver(event, SignsReason::kNamesCut).where.section = event.text;
            break;
        case LoadEvent::kSectionOff: PassOver(event, SignsReason::kSwitchedOff); break;
        case LoadEvent::kSectionNoKind: PassOver(event, SignsReason::kNoKind); break;
        case LoadEvent::kValueCut: Warn(event, SignsReason::kValueCut); break;
        case LoadEvent::kTokenIgnored: Warn(event, SignsReason::kTokenIgnored).token = event.text; break;
        case LoadEvent::kIncludeFound:
            include_place_ = Place(event);
            include_path_ = event.text;
            break;
        case LoadEvent::kIncludeMissing: {
            SignsFinding& finding = PassOver(event, SignsReason::kIncludeMissing);
            finding.paths.push_back(Native(event.text));
            // A value without folders gives the same path twice.
            if (event.text2 != nullptr && std::strcmp(event.text, event.text2) != 0) {
                finding.paths.push_back(Native(event.text2));
            }
            break;
        }
        case LoadEvent::kIncludeCycle:
            PassOver(event, SignsReason::kIncludeCycle).paths = {Native(event.text)};
            break;
        case LoadEvent::kIncludeTooDeep:
            PassOver(event, SignsReason::kIncludeTooDeep).paths = {Native(event.text)};
            break;
        case LoadEvent::kTooManyFiles:
            PassOver(event, SignsReason::kTooManyFiles).paths = {Native(event.text)};
            break;
        case LoadEvent::kSignatureAdded: {
            added[event.signature] = {event.file, event.section, events};
            Settle(event.signature, SignsOutcome::kCompleted, Place(event));
            break;
        }
        case LoadEvent::kSizedPending: {
            // A pending signature made by an earlier section keeps its maker.
            if (pending_.count(event.signature) == 0) {
                created[event.signature] = {event.file, event.section, events};
            }
            const bool empty = event.key != nullptr && std::strcmp(event.key, "Signature") == 0;
            PassOver(event, empty ? SignsReason::kEmptyPattern : SignsReason::kSizeWidth);
            pending_[event.signature].push_back(report_.passed_over.size() - 1);
            break;
        }
        case LoadEvent::kPendingDropped:
            Settle(event.signature,
                   event.section != nullptr ? SignsOutcome::kDroppedByBounded : SignsOutcome::kDroppedAtEnd,
                   Place(event));
            created.erase(event.signature);
            break;
        case LoadEvent::kBoundedEmpty: PassOver(event, SignsReason::kEmptyPattern); break;
        case LoadEvent::kOutOfMemory: PassOver(event, SignsReason::kOutOfMemory); break;
    }
}

std::string ReadValue(const Origin& origin, const char* key) {
    char value[kValueSize] = {};
    PlatformProfileString(origin.section.c_str(), key, "", value, kValueSize,
                          origin.windows_file.c_str());
    return value;
}

// Token and pattern warnings of one signature, each with the signature's order.
void WarnAbout(const SignsSignature& signature, const Origin& origin, SignsReport* report,
               std::vector<size_t>* order) {
    const auto warn = [&](const char* key, SignsReason reason, const std::string& message,
                          const std::string& token) {
        SignsFinding finding;
        finding.where = signature.from;
        finding.reason = reason;
        finding.key = key;
        finding.message = message;
        finding.token = token;
        report->warnings.push_back(finding);
        order->push_back(origin.order);
    };
    const char* const start_key = signature.bounded ? "SignatureStart" : "Signature";
    std::vector<const char*> keys = {start_key};
    if (signature.bounded && !signature.end_pattern.empty()) keys.push_back("SignatureEnd");
    for (const char* key : keys) {
        for (const TokenNote& note : SurprisingTokens(ReadValue(origin, key))) {
            warn(key, note.reason, "in " + std::string(key) + ", " + note.message, note.token);
        }
    }
    const std::string few = FewExactBytesMessage(signature.exact_bytes, signature.pattern);
    if (!few.empty()) warn(start_key, SignsReason::kFewExactBytes, few, "");
}

// Included files that exist but cannot be opened give nothing, silently.
void WarnAboutUnreadableFiles(SignsReport* report, std::vector<size_t>* order) {
    for (const SignsFile& file : report->files) {
        const int fd = open(file.path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) {
            close(fd);
            continue;
        }
        SignsFinding finding;
        finding.where = {file.path, ""};
        finding.reason = SignsReason::kFileUnreadable;
        finding.message = std::string("the file cannot be opened (") + std::strerror(errno) +
                          "), so it gives nothing";
        report->warnings.push_back(finding);
        order->push_back(0);
    }
}

// All section names of a file, as many as there are.
std::vector<std::string> AllSectionNames(const std::string& native_file) {
    char windows_file[kValueSize];
    if (!DriveFormFromNative(native_file.c_str(), windows_file, sizeof windows_file)) return {};
    constexpr uint32_t kAllNamesSize = 1u << 24;
    std::vector<char> names(kAllNamesSize, '\0');
    PlatformProfileSectionNames(names.data(), kAllNamesSize, windows_file);
    names.back() = '\0';
    std::vector<std::string> all;
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        all.push_back(name);
    }
    return all;
}

// The name block may end inside a name, which the loader then reads as the
// name of a section that the file does not have: that section's finding
// says so, with the name it was cut from.
void ExplainCutShortNames(SignsReport* report) {
    std::map<std::string, std::vector<std::string>> names;  // a file may be read many times
    for (const SignsFinding& cut : report->passed_over) {
        if (cut.reason != SignsReason::kNamesCut) continue;
        if (names.count(cut.where.file) == 0) names[cut.where.file] = AllSectionNames(cut.where.file);
        const std::vector<std::string>& all = names[cut.where.file];
        const auto first_cut = std::find(all.begin(), all.end(), cut.where.section);
        if (first_cut == all.end()) continue;
        const std::string& whole = *first_cut;  // the first name not held whole
        for (SignsFinding& finding : report->passed_over) {
            const std::string& name = finding.where.section;
            if (finding.where.file != cut.where.file || finding.reason != SignsReason::kNoKind ||
                name.size() >= whole.size() || whole.compare(0, name.size(), name) != 0 ||
                std::find(all.begin(), all.end(), name) != all.end()) {
                continue;
            }
            finding.reason = SignsReason::kNameCutShort;
            finding.message = "the 1024-byte name block ends inside the name [" + whole +
                              "], so this section, which the file does not have, is read instead "
                              "and defines nothing";
        }
    }
}

// Sorts findings by the order of the events that they stem from.
void SortByOrder(std::vector<SignsFinding>* findings, const std::vector<size_t>& order) {
    std::vector<size_t> index(findings->size());
    for (size_t i = 0; i < index.size(); ++i) index[i] = i;
    std::stable_sort(index.begin(), index.end(),
                     [&](size_t a, size_t b) { return order[a] < order[b]; });
    std::vector<SignsFinding> sorted;
    for (size_t i : index) sorted.push_back((*findings)[i]);
    *findings = std::move(sorted);
}

std::string SectionText(const SignsPlace& place) { return "[" + place.section + "]"; }

std::string Fate(const SignsFinding& finding) {
    if (finding.outcome == SignsOutcome::kCompleted) {
        return "; the signature stays pending and is completed by " +
               SectionText(finding.outcome_place);
    }
    if (finding.outcome == SignsOutcome::kDroppedByBounded) {
        return "; the signature stays pending and is dropped by the bounded section " +
               SectionText(finding.outcome_place);
    }
    if (finding.outcome == SignsOutcome::kDroppedAtEnd) {
        return "; the signature stays pending and is dropped at the end of the file";
    }
    return "";
}

std::string FirstPath(const SignsFinding& finding) {
    return finding.paths.empty() ? "" : "'" + finding.paths[0] + "'";
}

// Every reason the explanation gives, with its text (null where the finding
// brings its own) and whether a scan tells it (see SignsToldDuringScan).
struct Reason {
    SignsReason code;
    const char* name;
    bool told_during_scan;
    std::string (*text)(const SignsFinding& finding);
};

const Reason kReasons[] = {
    // Passed over.
    {SignsReason::kSwitchedOff, "switched_off", false, [](const SignsFinding&) -> std::string {
         return "switched off by the ';' in front of its name"; }},
    {SignsReason::kNoKind, "no_kind", true, [](const SignsFinding&) -> std::string {
         return "none of Include, Signature and SignatureStart has a value"; }},
    {SignsReason::kEmptyPattern, "empty_pattern", true, [](const SignsFinding& f) -> std::string {
         return f.key + " gives no pattern element" + Fate(f); }},
    {SignsReason::kSizeWidth, "size_width", true, [](const SignsFinding& f) -> std::string {
         const std::string width = f.number == 0 ? "0 or absent" : std::to_string(f.number);
         return "SizeSize is " + width + ", not 1, 2 or 4" + Fate(f); }},
    {SignsReason::kIncludeMissing, "include_missing", true, [](const SignsFinding& f) -> std::string {
         if (f.paths.size() == 1) return "include not found: " + FirstPath(f) + " does not exist";
         return "include not found: neither " + FirstPath(f) + " nor '" + f.paths[1] + "' exists"; }},
    {SignsReason::kIncludeCycle, "include_cycle", true, [](const SignsFinding& f) -> std::string {
         return "include of " + FirstPath(f) + " passed over: that file is already being read"; }},
    {SignsReason::kIncludeTooDeep, "include_too_deep", true, [](const SignsFinding& f) -> std::string {
         return "include of " + FirstPath(f) + " passed over: more than " +
                std::to_string(kMaxIncludeDepth) + " files deep"; }},
    {SignsReason::kTooManyFiles, "too_many_files", true, [](const SignsFinding& f) -> std::string {
         return "include of " + FirstPath(f) + " passed over: the load has read " +
                std::to_string(kMaxFilesPerLoad) + " files already"; }},
    {SignsReason::kNamesCut, "names_cut", true, [](const SignsFinding& f) -> std::string {
         if (f.number == 1) return "this section is not read: its name lies beyond the 1024-byte name block";
         return "this section and the " + std::to_string(f.number - 1) +
                " after it are not read: their names lie beyond the 1024-byte name block"; }},
    {SignsReason::kNameCutShort, "name_cut_short", true, nullptr},
    {SignsReason::kOutOfMemory, "out_of_memory", true, [](const SignsFinding&) -> std::string { return "no memory for its signature"; }},
    // Warnings.
    {SignsReason::kValueCut, "value_cut", false, [](const SignsFinding& f) -> std::string {
         return "the value of " + f.key + " is longer than 260 characters and is cut"; }},
    {SignsReason::kTokenIgnored, "token_ignored", false, [](const SignsFinding& f) -> std::string {
         return "in " + f.key + ", the token \"" + f.token + "\" gives no pattern element"; }},
    {SignsReason::kFewExactBytes, "few_exact_bytes", false, nullptr},
    {SignsReason::kNoDigit, "no_digit", false, nullptr},
    {SignsReason::kBlankInside, "blank_inside", false, nullptr},
    {SignsReason::kIgnoredText, "ignored_text", false, nullptr},
    {SignsReason::kOver255, "over_255", false, nullptr},
    {SignsReason::kQuoteRest, "quote_rest", false, nullptr},
    {SignsReason::kLoneQuote, "lone_quote", false, nullptr},
    {SignsReason::kFileUnreadable, "file_unreadable", true, nullptr},
};

static_assert(sizeof kReasons / sizeof kReasons[0] + 1 == static_cast<size_t>(SignsReason::kCount),
              "a row for every reason but kNone, in the order of the codes");

const Reason* FindReason(SignsReason code) {
    const auto index = static_cast<size_t>(code);
    return index >= 1 && index < static_cast<size_t>(SignsReason::kCount) ? &kReasons[index - 1] : nullptr;
}

std::string Message(const SignsFinding& finding) {
    const Reason* reason = FindReason(finding.reason);
    return reason != nullptr && reason->text != nullptr ? reason->text(finding) : SignsReasonName(finding.reason);
}

}  // namespace

const char* SignsReasonName(SignsReason reason) {
    const Reason* row = FindReason(reason);
    return row != nullptr ? row->name : "";
}

const char* SignsOutcomeName(SignsOutcome outcome) {
    static const char* const kNames[] = {"", "completed", "dropped_by_bounded", "dropped_at_end"};
    return kNames[static_cast<int>(outcome)];
}

bool SignsToldDuringScan(const SignsFinding& finding) {
    const Reason* reason = FindReason(finding.reason);
    // A pending signature that a later section completes is not lost.
    return reason != nullptr && reason->told_during_scan && finding.outcome != SignsOutcome::kCompleted;
}

bool ExplainSignatureFile(const std::string& native_path, SignsReport* report, std::string* error) {
    char windows_path[kValueSize];
    if (!DriveFormFromNative(native_path.c_str(), windows_path, sizeof windows_path)) {
        *error = "path too long for " + report->reader + ": at most " + std::to_string(kValueSize - 3) +
                 " characters after the drive";
        return false;
    }
    *report = SignsReport();
    report->file = native_path;
    SignatureList list;
    Collector collector(report);
    // One batch around the load and the report's own reads: each file is
    // read once, and let go when the report is made.
    struct Batch {
        Batch() { PlatformBeginProfileBatch(); }
        ~Batch() { PlatformEndProfileBatch(); }
    } batch;
    LoadSignatureFile(windows_path, list, &collector);

    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* signature = list.Signature(i);
        SignsSignature described = Describe(*signature);
        const Origin origin = collector.added[signature];
        described.from = {Native(origin.windows_file.c_str()), origin.section};
        const auto maker = collector.created.find(signature);
        if (maker != collector.created.end()) {
            const SignsPlace made = {Native(maker->second.windows_file.c_str()),
                                     maker->second.section};
            if (!(made == described.from)) described.created_in = made;
        }
        report->signatures.push_back(described);
        WarnAbout(described, origin, report, &collector.warning_order);
    }
    WarnAboutUnreadableFiles(report, &collector.warning_order);
    for (SignsFinding& finding : report->passed_over) finding.message = Message(finding);
    ExplainCutShortNames(report);
    for (SignsFinding& finding : report->warnings) {
        if (finding.message.empty()) finding.message = Message(finding);
    }
    SortByOrder(&report->warnings, collector.warning_order);
    return true;
}
