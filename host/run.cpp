// "hound scan": loads the plug-ins, scans each input, reports and extracts.
#include "host/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>

#include "host/report/diagnostics.h"
#include "host/report/extract.h"
#include "host/report/hashes.h"
#include "host/scan/filters.h"
#include "host/scan/interrupt.h"
#include "host/scan/mapped_file.h"
#include "host/report/names.h"
#include "host/report/output.h"
#include "host/report/output_paths.h"
#include "host/report/out_folder.h"
#include "host/report/spool.h"
#include "host/report/table_stream.h"
#include "host/scan/plugins.h"
#include "host/report/progress.h"
#include "host/scan/reader.h"
#include "host/scan/scan.h"
#include "host/scan/signs_folder.h"
#include "host/signs/signs_output.h"

namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The earlier audits in an --out folder, followed by an empty line; "" when none.
std::string ReadAudit(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().empty() ? "" : text.str() + "\n";
}

bool IsJpegPlugin(const std::string& name) {
    return name == kJpegPluginName || name == "jpeghound";
}

std::string Joined(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
    return list;
}

std::string SettingsLine(const Options& options, const std::string& plugin_dir) {
    std::string order;
    for (const std::string& name : options.order) order += (order.empty() ? "" : ",") + name;
    return "plugins=" + plugin_dir + " order=" + order + " nested=" + (options.nested ? "yes" : "no") +
           " min-size=" + std::to_string(options.min_size) + " max-size=" +
           (options.max_size == ScanOptions().max_size ? "none" : std::to_string(options.max_size)) +
           " json=" + (options.json ? "yes" : "no") +
           " dfxml=" + (options.dfxml.empty() ? "none" : options.dfxml) +
           " out=" + (options.out.empty() ? "none" : options.out) +
           (options.out_append ? " out-append=yes" : "") +
           " signs=" + (options.scan_signs.empty() ? "beside markhound" : options.scan_signs) +
           " check=" + (options.no_check ? "no" : "yes") + " hash=" + Joined(options.hashes);
}

// name, or name with "-2", "-3", ... before its extension: never one taken.
std::string Unique(const std::string& name, std::set<std::string>* taken) {
    std::string candidate = name;
    const size_t dot = std::min(name.find_last_of('.'), name.size());
    for (int n = 2; !taken->insert(candidate).second; ++n) {
        candidate = name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
    }
    return candidate;
}

class ScanRun {
public:
    ScanRun(const Options& options, const Environment& environment, std::ostream& out,
            std::ostream& err)
        : options_(options), out_(out), diag_(err),
          progress_(environment.terminal && !options.quiet, err),
          plugin_dir_(options.plugins_dir.empty() ? environment.default_plugin_dir
                                                  : options.plugins_dir),
          stop_(environment.stop) {}

    int Run();

private:
    bool PreparePlugins();
    void ScanFile(const std::string& path);
    // Where extraction stands in the file being scanned (see ExtractItem).
    struct Extraction {
        uint64_t truncated_start = 0, truncated_end = 0;
        uint64_t budget = 0;  // bytes that may still be extracted from the file
    };
    void ExtractItem(const MappedFile& data, FileReport* file, Extraction* state,
                     ReportedItem* reported);
    void ScanPartEnd(const Scanner& scanner, PartBounds bounds, const Item* last,
                     const Scanner::ItemFn& emit, FileReport* file);
    bool Hash(const MappedFile& data, const FileReport& file, ReportedItem* reported);
    bool OpenSpools();
    void WriteReports();
    // audit.txt; for a part, one name per part, so that parts can share DIR.
    std::string AuditName() const;
    void CheckStdout();
    int StopSignal() const { return stop_ != nullptr ? stop_->load() : 0; }

    const Options& options_;
    std::ostream& out_;
    Diagnostics diag_;
    Progress progress_;
    std::string plugin_dir_;
    SignsFolder signs_folder_;  // prepared for --signs: the plug-ins are loaded from there
    PluginSet plugins_;
    OutFolder out_folder_;
    // The DFXML objects and the audit's item lines, kept on disk during the scan.
    Spool dfxml_items_, audit_items_;
    std::vector<Detector> detectors_;
    RunReport run_;
    std::set<std::string> stems_;
    bool stopped_ = false;  // an extracted file could not be written
    bool stdout_failed_ = false;  // told once; nothing more is printed
    const std::atomic<int>* stop_;
    // What was under way when a stop signal was seen, for the one line that
    // says so; nothing is reported or written after it.
    std::string stopped_while_;
};

bool ScanRun::PreparePlugins() {
    if (!options_.scan_signs.empty()) {
        std::string error;
        if (!signs_folder_.Prepare(options_.scan_signs, plugin_dir_, options_.order, &error)) {
            diag_.Error(error);
            return false;
        }
    }
    plugins_.Load(signs_folder_.path().empty() ? plugin_dir_ : signs_folder_.path(), options_.order,
                  diag_);
    if (plugins_.plugins().empty()) return false;
    // hound's copy of a plug-in's rules must be what the plug-in itself read.
    KnownFilters filters;
    for (const Plugin& plugin : plugins_.plugins()) filters.ReadBeforeInitialize(plugin.name, plugin.handle);
    // What markhound's loader will pass over, told before its Initialize.
    for (const Plugin& plugin : plugins_.plugins()) {
        if (plugin.name != kSignaturePluginName) continue;
        const std::string signs = plugin.path.substr(0, plugin.path.find_last_of('/')) + "/signs.ini";
        for (const std::string& line : SignsScanProblems(signs)) diag_.Note(plugin.name + ": " + line);
    }
    plugins_.Initialize(diag_);
    for (const Plugin& plugin : plugins_.plugins()) filters.ReadAfterInitialize(plugin.name, plugin.handle);
    for (const Plugin& plugin : plugins_.plugins()) {
        const auto index = static_cast<uint32_t>(run_.plugin_names.size());
        run_.plugin_names.push_back(plugin.name);
        run_.plugin_states.push_back(plugin.name + "  " + plugin.path + "  " +
                                     (plugin.active ? "asked" : "not asked: Initialize answered 0"));
        if (!plugin.active) continue;
        detectors_.emplace_back(plugin.record, index,
                                options_.exhaustive ? CandidateFilter() : filters.For(plugin.name));
        // The JPEG plug-ins answer at the position asked, with an item that the
        // JPEG checker reads: where its header cannot be read, no yes survives.
        if (IsJpegPlugin(plugin.name)) detectors_.back().may_start = JpegMayStart;
        // markhound's items start where it is asked unless a signature says
        // otherwise: a damaged archive's entries need not cost it a search each.
        if (plugin.name == kSignaturePluginName && filters.For(plugin.name).items_at_position) {
            detectors_.back().may_start = ZipMayStart;
        }
    }
    if (detectors_.empty()) {
        diag_.Error("no plug-in is ready to detect anything: nothing scanned");
        return false;
    }
    return true;
}

// The extracted bytes stay a small multiple of the input whatever the
// plug-ins report: a truncated item's file runs to the end of the input, so
// an item that starts inside it is already there (unless --nested asks for
// items inside items), and no input gives more than kExtractBound times its
// size. A failed write ends the extraction of the run (stopped_).
void ScanRun::ExtractItem(const MappedFile& data, FileReport* file, Extraction* state,
                          ReportedItem* reported) {
    const Item& item = reported->item;
    if (!options_.nested && item.offset < state->truncated_end) {
        reported->not_extracted = "inside the truncated item at " + HexOffset(state->truncated_start);
        ++file->inside_truncated;
        return;
    }
    if (item.size_in_file > state->budget) {
        reported->not_extracted = "beyond " + std::to_string(kExtractBound) + " times the input's size";
        ++file->over_bound;
        return;
    }
    state->budget -= item.size_in_file;
    if (item.truncated && item.offset + item.size_in_file > state->truncated_end) {
        state->truncated_start = item.offset;
        state->truncated_end = item.offset + item.size_in_file;
    }
    const std::string folder = options_.out + "/" + SafeExtension(item.extension);
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure) {
        diag_.Error("cannot create " + Quoted(folder) + ": " + failure.message());
        stopped_ = true;
        return;
    }
    const uint8_t* bytes = item.size_in_file > 0 ? data.data() + item.offset : data.data();
    std::string error;
    const std::string path = options_.out + "/" + reported->name;
    // The pages written leave memory block by block: a large item costs no more
    // resident memory than a small one.
    const MappedData mapped = {data.data(), data.size()};
    const auto drop = [&](uint64_t done) { DropMappedPages(mapped, item.offset, item.offset + done); };
    if (!WriteFileAtomically(path, bytes, item.size_in_file, &error, stop_, drop)) {
        if (StopSignal() != 0) {
            stopped_while_ = "while writing " + Quoted(path) + "; its unfinished file was removed";
        } else {
            diag_.Error(error);
        }
        stopped_ = true;
        return;
    }
    reported->written = true;
    DropMappedPages(mapped, item.offset, item.offset + item.size_in_file);
}

// Where the scan of a part went on behind its last item, past the part's
// end, it goes on until it meets the scan of the part behind.
void ScanRun::ScanPartEnd(const Scanner& scanner, PartBounds bounds, const Item* last,
                          const Scanner::ItemFn& emit, FileReport* file) {
    uint64_t ahead = bounds.end;
    if (last != nullptr) ahead = std::max(ahead, NextPosition(last->offset, *last, options_.nested));
    file->next_part_from = ahead == bounds.end ? ahead : scanner.ScanUntilMet(ahead, bounds.end, emit);
}

// The digests of the item's bytes in the file; false when stopped meanwhile.
bool ScanRun::Hash(const MappedFile& data, const FileReport& file, ReportedItem* reported) {
    const Item& item = reported->item;
    const uint8_t* bytes = item.size_in_file > 0 ? data.data() + item.offset : data.data();
    reported->digests = HashBytes(options_.hashes, bytes, item.size_in_file, stop_);
    if (StopSignal() == 0) return true;
    stopped_while_ = "while hashing the items of " + Quoted(file.path);
    return false;
}

void ScanRun::CheckStdout() {
    if (stdout_failed_ || out_.good()) return;
    stdout_failed_ = true;
    diag_.Error(std::string("cannot write the standard output: ") +
                (errno != 0 ? std::strerror(errno) : "write failed"));
}

void ScanRun::ScanFile(const std::string& path) {
    run_.files.emplace_back();
    FileReport& file = run_.files.back();
    file.path = path;
    MappedFile data;
    if (!data.Open(path, &file.error)) {
        diag_.Error(file.error);
        return;
    }
    file.size = data.size();
    file.stem = Unique(SafeStem(path), &stems_);

    const MappedData mapped = {data.data(), data.size()};
    ScanOptions scan_options;
    scan_options.nested = options_.nested;
    scan_options.min_size = options_.min_size;
    scan_options.max_size = options_.max_size;
    scan_options.stop = stop_;
    scan_options.threads = options_.threads > 0 ? options_.threads : DefaultScanThreads();
    scan_options.drop_pages = true;
    scan_options.check = !options_.no_check;
    Scanner scanner(&mapped, detectors_, scan_options);
    scanner.OnReject([&](const Item& item) {
        ++file.rejected[std::string(item.check_format) + ": " + item.check_reason];
    });

    // Each item goes out as it is found, in file order: extracted, printed,
    // and added to the spooled reports; nothing per item is kept.
    // Names taken at the current offset: items come in offset order, so only
    // items at one offset can share a name.
    std::set<std::string> names;
    uint64_t names_offset = 0;
    Extraction extraction;
    extraction.budget =
        file.size > UINT64_MAX / kExtractBound ? UINT64_MAX : file.size * kExtractBound;
    TableStream table(out_, file, run_.plugin_names);
    const PartBounds bounds = BoundsIn(options_.part, data.size());
    file.part = options_.part.given;
    file.part_begin = bounds.begin;
    file.part_end = bounds.end;
    Item last;  // the last item found, where a part's scan goes on past its end
    bool found = false;
    const Scanner::ItemFn emit = [&](const Item& item) {
            const std::string ext = SafeExtension(item.extension);
            if (item.offset != names_offset) names.clear();
            names_offset = item.offset;
            std::string name = Unique(ItemFileName(file.stem, item.offset, ext), &names);
            // An earlier run's file keeps its name; this item takes the next free one.
            while (out_folder_.Holds(ext + "/" + name)) {
                name = Unique(ItemFileName(file.stem, item.offset, ext), &names);
            }
            last = item;
            found = true;
            ReportedItem reported{item, ext + "/" + name, false, "", {}};
            // With --out the digests are taken as the item is extracted, its
            // bytes still in memory.
            if (!Hash(data, file, &reported)) return;
            if (!options_.out.empty() && !stopped_ && StopSignal() == 0) {
                ExtractItem(data, &file, &extraction, &reported);
            }
            ++file.streamed;
            file.streamed_truncated += item.truncated;
            ++file.streamed_types[ext];
            const std::string& plugin = run_.plugin_names[item.plugin];
            if (!options_.json) {
                table.Add(reported);
            } else if (!stdout_failed_) {
                out_ << JsonLine(file, reported, plugin, options_.out) << '\n';
            }
            if (dfxml_items_.is_open()) dfxml_items_.Append(DfxmlObject(file, reported, plugin));
            if (audit_items_.is_open()) audit_items_.Append(AuditItemLine(file, reported, plugin));
    };
    progress_.Start(bounds.end - bounds.begin);
    scanner.ScanRange(bounds.begin, bounds.end, emit, [&](uint64_t position, uint64_t items) {
        progress_.Update(position - bounds.begin, items);
        out_ << std::flush;
        CheckStdout();
    });
    if (file.part && StopSignal() == 0) ScanPartEnd(scanner, bounds, found ? &last : nullptr, emit, &file);
    progress_.Finish();
    if (StopSignal() != 0) {
        if (stopped_while_.empty()) stopped_while_ = "while scanning " + Quoted(path);
        return;
    }
    if (file.over_bound > 0) {
        diag_.Note(std::to_string(file.over_bound) + " items of " + Quoted(file.path) +
                   " not extracted: the bytes extracted from an input stay within " +
                   std::to_string(kExtractBound) + " times its size");
    }
    if (!options_.json) table.Finish();
    if (file.part && !stdout_failed_) {
        out_ << (options_.json ? PartJsonLine(file) : "  " + PartText(file)) << '\n';
    }
    out_ << std::flush;
    CheckStdout();
}

bool ScanRun::OpenSpools() {
    std::string problem;
    if (!options_.dfxml.empty()) {
        // Beside the report, on the disk it goes to; in /tmp when it is a device or pipe.
        struct stat info;
        const size_t slash = options_.dfxml.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : options_.dfxml.substr(0, slash + 1);
        if (stat(options_.dfxml.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) folder = P_tmpdir;
        problem = dfxml_items_.Open(folder);
    }
    if (problem.empty() && !options_.out.empty()) problem = audit_items_.Open(options_.out);
    if (!problem.empty()) diag_.Error(problem);
    return problem.empty();
}

std::string ScanRun::AuditName() const {
    if (run_.files.size() != 1 || !run_.files[0].part) return "audit.txt";
    const FileReport& file = run_.files[0];
    return "audit-part-" + std::to_string(file.part_begin) + "-" + std::to_string(file.part_end) + ".txt";
}

void ScanRun::WriteReports() {
    run_.messages = diag_.lines();
    std::string error;
    if (!options_.dfxml.empty()) {
        if (!WriteSpooledFile(options_.dfxml, DfxmlHead(run_), &dfxml_items_, kDfxmlTail, &error)) {
            diag_.Error(error);
        }
    }
    if (!options_.out.empty()) {
        run_.messages = diag_.lines();
        const std::string path = options_.out + "/" + AuditName();
        // With --out-append the earlier runs' audits stay in front of this one.
        const std::string head = (options_.out_append ? ReadAudit(path) : "") + AuditHead(run_);
        if (!WriteSpooledFile(path, head, &audit_items_, AuditTail(run_), &error)) {
            diag_.Error(error);
        }
    }
}

int ScanRun::Run() {
    const auto start = std::chrono::steady_clock::now();
    run_.started = UtcNow();
    run_.command_line = options_.command_line;
    run_.options = SettingsLine(options_, plugin_dir_);
    run_.out_dir = options_.out;
    run_.checked = !options_.no_check;

    if (!PreparePlugins()) return kExitUsage;
    const std::vector<std::string> refused =
        CheckOutputPaths(options_.dfxml, options_.out, options_.files);
    for (const std::string& line : refused) diag_.Error(line);
    if (!refused.empty()) return kExitErrors;
    if (!options_.out.empty()) {
        const std::string problem = out_folder_.Open(options_.out, options_.out_append, options_.part.given);
        if (!problem.empty()) {
            diag_.Error(problem);
            return kExitErrors;
        }
    }
    if (!OpenSpools()) return kExitErrors;
    for (const std::string& path : options_.files) {
        if (stopped_ || StopSignal() != 0) break;
        ScanFile(path);
    }
    plugins_.Unload();
    if (StopSignal() != 0) {
        // A stop leaves no report that could pass for a finished run.
        const std::string during = stopped_while_.empty() ? "" : " " + stopped_while_;
        diag_.Error("stopped by " + std::string(StopSignalName(StopSignal())) + during +
                    "; nothing further reported or written");
        return StopExitCode(StopSignal());
    }

    if (!options_.json && run_.files.size() > 1) {
        size_t items = 0;
        for (const FileReport& file : run_.files) items += file.streamed;
        out_ << "total: " << items << (items == 1 ? " item" : " items") << " in "
             << run_.files.size() << " inputs\n" << std::flush;
        CheckStdout();
    }
    run_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    WriteReports();
    return diag_.error_count() > 0 ? kExitErrors : kExitOk;
}

}  // namespace

int RunScan(const Options& options, const Environment& environment, std::ostream& out,
            std::ostream& err) {
    return ScanRun(options, environment, out, err).Run();
}
