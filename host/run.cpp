// "hound scan": a list of stages, each handing on what it made. The plug-ins
// are loaded into detectors; the outputs are opened; each input is scanned
// (the scanner checks every item before handing it over) and its items go
// to the report stage as they are found; the reports are written at the end.
#include "host/run.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <unistd.h>
#include <fstream>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>

#include "host/base/diagnostics.h"
#include "host/base/interrupt.h"
#include "host/base/mapped_file.h"
#include "host/base/names.h"
#include "host/check/formats.h"
#include "host/detectors.h"
#include "host/filesystem/apart.h"
#include "host/filesystem/file_system.h"
#include "host/filesystem/merge.h"
#include "host/known_plugins.h"
#include "host/report/item_report.h"
#include "host/report/output.h"
#include "host/report/output_paths.h"
#include "host/report/progress.h"
#include "host/scan/scan.h"
#include "host/source/source.h"

namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The stem of this run's gallery files: a part's by its place in the image
// (a part run again replaces its own), a whole run's by its start; parts
// sort behind whole runs, and hound join replaces the "part-" files.
std::string GalleryStem(const Options& options) {
    const ScanPart& part = options.part;
    if (part.given) {
        return part.k > 0 ? "part-" + std::to_string(part.k) + "-of-" + std::to_string(part.n)
                          : "part-range-" + std::to_string(part.begin) + "-" + std::to_string(part.end);
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
    return std::string(text) + "-" + std::to_string(getpid());
}

// The earlier audits in an --out folder, followed by an empty line; "" when none.
std::string ReadAudit(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().empty() ? "" : text.str() + "\n";
}

std::string Joined(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
    return list;
}

std::string SettingsLine(const Options& options, const std::string& plugin_dir) {
    return "plugins=" + plugin_dir + " order=" + Joined(options.order) + " nested=" + (options.nested ? "yes" : "no") +
           " min-size=" + std::to_string(options.min_size) + " max-size=" +
           (options.max_size == ScanOptions().max_size ? "none" : std::to_string(options.max_size)) +
           " json=" + (options.json ? "yes" : "no") +
           " dfxml=" + (options.dfxml.empty() ? "none" : options.dfxml) +
           " out=" + (options.out.empty() ? "none" : options.out) +
           (options.out_append ? " out-append=yes" : "") +
           (options.max_files != kDefaultMaxFiles ? " max-files=" + std::to_string(options.max_files) : "") +
           " signs=" + (options.scan_signs.empty() ? "beside " + SignaturePluginName() : options.scan_signs) +
           " check=" + (options.no_check ? "no" : "yes") + " hash=" + Joined(options.hashes) +
           " fs=" + (options.no_fs ? "no" : "yes") + " carve=" + (options.carve_all ? "all" : "unallocated");
}

// The outputs besides the standard output, opened before the scan: nullptr
// after one line each when a path is refused or cannot be opened.
std::unique_ptr<ReportFiles> OpenReportFiles(const Options& options, Diagnostics& diag) {
    const std::vector<std::string> refused = CheckOutputPaths(options.dfxml, options.out, options.files, options.scan_signs);
    for (const std::string& line : refused) diag.Error(line);
    if (!refused.empty()) return nullptr;
    auto files = std::make_unique<ReportFiles>();
    std::string problem;
    if (!options.out.empty()) problem = files->out_folder.Open(options.out, options.out_append, options.part.given);
    if (problem.empty() && !options.dfxml.empty()) {
        // Beside the report, on the disk it goes to; in /tmp when it is a device or pipe.
        struct stat info;
        const size_t slash = options.dfxml.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : options.dfxml.substr(0, slash + 1);
        if (stat(options.dfxml.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) folder = P_tmpdir;
        problem = files->dfxml_items.Open(folder);
    }
    if (problem.empty() && !options.out.empty()) problem = files->audit_items.Open(options.out);
    if (problem.empty() && !options.out.empty()) problem = files->gallery.Open(options.out, GalleryStem(options));
    if (problem.empty()) return files;
    diag.Error(problem);
    return nullptr;
}

// Where the scan of a part went on behind its last item, past the part's
// end, it goes on until it meets the scan of the part behind; returns where.
uint64_t ScanPastPartEnd(const Scanner& scanner, PartBounds bounds, const Item* last, bool nested,
                         const Scanner::ItemFn& on_item) {
    uint64_t ahead = bounds.end;
    if (last != nullptr) ahead = std::max(ahead, NextPosition(last->offset, *last, nested));
    return ahead == bounds.end ? ahead : scanner.ScanUntilMet(ahead, bounds.end, on_item);
}

// Reads the file systems on the input, and tells for each volume what was
// read or why it is carved whole.
// self: the executable that reads an image's file systems in a process of its own.
void ReadFileSystems(const std::string& path, const std::string& self, bool raw, const MappedData& data,
                     FileSystems* fs, FileReport* file, Diagnostics& diag) {
    std::string problem;
    if (!MayHoldFileSystem(data) || !ReadFileSystemsApart(self, path, raw, data, fs, &problem)) {
        if (!problem.empty()) {
            diag.Note(Quoted(path) + ": its file systems could not be read (" + problem + "); it is carved whole");
        }
        return;
    }
    file->volumes = fs->volumes();
    for (const FsVolume& volume : fs->volumes()) {
        const std::string where = volume.name == kWholeVolume
                                      ? "its file system"
                                      : "partition " + volume.name + " (" + std::to_string(volume.length) +
                                            " bytes at " + std::to_string(volume.offset) + ")";
        if (volume.fs_type.empty()) {
            diag.Note(Quoted(path) + ": " + where + " holds no file system that hound reads (" + volume.problem +
                      "); it is carved whole");
            continue;
        }
        std::string line = Quoted(path) + ": " + where + ", " + volume.fs_type + ": " +
                           std::to_string(volume.files) + " files named, " + std::to_string(volume.deleted) +
                           " of them deleted";
        if (!volume.problem.empty()) line += "; it could be read only in part (" + volume.problem + ")";
        diag.Note(line);
    }
    if (!fs->limited().empty()) diag.Note(Quoted(path) + ": " + fs->limited());
}

// Allocated stretches shorter than this are scanned through rather than
// stepped over: each free span is cut into chunks of its own, and many
// small spans would make many small chunks.
constexpr uint64_t kMinSkip = uint64_t{1} << 20;

// A carved item read around ext2/3 indirect blocks is checked in a copy of
// at most this many bytes.
constexpr uint64_t kMaxAroundBytes = uint64_t{32} << 20;

// An item that carving found in the free space of an ext2 or ext3 volume and
// that runs past its 12 direct blocks: where its bytes, read around the
// indirect blocks that those file systems put among a file's blocks, pass
// its format's check, it is that file, in pieces (*item then has its size
// and check); null where not.
std::shared_ptr<const FsFile> AroundIndirectBlocks(const FileSystems& fs, const MappedData& data, Item* item) {
    std::vector<FsRun> runs = fs.AroundIndirectBlocks(item->offset, std::min(item->plugin_size, kMaxAroundBytes));
    if (runs.size() < 2) return nullptr;
    std::vector<uint8_t> copy;
    for (const FsRun& run : runs) copy.insert(copy.end(), data.bytes + run.offset, data.bytes + run.offset + run.length);
    const CheckResult check = CheckItem({copy.data(), copy.size()});
    // A file that ends in its direct blocks lies in one piece, as found.
    const uint64_t size = check.end > 0 ? check.end : copy.size();
    if (check.state != CheckState::kValid || size <= runs[0].length) return nullptr;
    auto file = std::make_shared<FsFile>();
    file->offset = item->offset;
    file->size = size;
    for (uint64_t left = size; left > 0 && !runs.empty(); runs.erase(runs.begin())) {
        const uint64_t length = std::min(left, runs.front().length);
        file->runs.push_back({runs.front().offset, length, false});
        left -= length;
    }
    item->size = item->size_in_file = size;
    item->truncated = false;
    item->check = check.state;
    item->check_format = check.format;
    item->check_reason = check.reason;
    if (check.extension != nullptr) item->extension = check.extension;
    if (check.description != nullptr) item->description = check.description;
    return file;
}

// Scans one input: each item that passes its check goes to the report stage
// as it is found. Returns what the input gave; a stop ends it early.
// stems: the file-name stems taken by earlier inputs; self: as Environment::self.
FileReport ScanInput(const std::string& path, std::set<std::string>* stems, const Options& options,
                     const std::string& self, const LoadedDetectors& loaded, ReportSinks sinks, Progress& progress) {
    FileReport file;
    file.path = path;
    const unsigned threads = options.threads > 0 ? options.threads : DefaultScanThreads();
    Source data;
    // An evidence image's windows: each scan thread's own and its items', with room to read ahead.
    if (!data.Open(path, options.raw, std::min<size_t>(16 + 8 * size_t{threads}, 96), &file.error)) {
        sinks.diag.Error(file.error);
        return file;
    }
    file.size = data.size();
    file.container = data.container();
    if (!data.warning().empty()) sinks.diag.Error(data.warning());
    if (!file.container.empty()) {
        file.segments = data.segments();
        file.acquisition_hashes = data.acquisition_hashes();
    }
    file.stem = UniqueName(SafeStem(path), stems);
    const PartBounds bounds = BoundsIn(options.part, data.size());
    if (options.part.given && options.part.k == 0 && options.part.begin >= data.size()) {
        sinks.diag.Note("--range begins at " + std::to_string(options.part.begin) + ", at or past the end of " +
                        Quoted(path) + " (" + std::to_string(data.size()) + " bytes): nothing is scanned");
    }
    file.part = options.part.given;
    file.part_begin = bounds.begin;
    file.part_end = bounds.end;

    const MappedData& mapped = data.data();
    ScanOptions scan_options;
    scan_options.nested = options.nested;
    scan_options.min_size = options.min_size;
    scan_options.max_size = options.max_size;
    scan_options.stop = sinks.stop.flag();
    scan_options.threads = threads;
    scan_options.drop_pages = mapped.file != nullptr;  // a file mapping, or mapped pieces
    scan_options.check = options.no_check ? nullptr : CheckItem;
    scan_options.matcher = loaded.matcher;
    Scanner scanner(&mapped, loaded.detectors, scan_options);

    // The files that the file systems name come with the carved items, in
    // offset order; carving keeps to the space that no allocated file uses.
    FileSystems fs;
    if (!options.no_fs) ReadFileSystems(path, self, options.raw, mapped, &fs, &file, sinks.diag);
    ItemReport report(options, mapped, loaded.plugin_names, &file, sinks);
    FsMerge merge(
        fs, options.carve_all, bounds.begin, bounds.end,
        [&](const FsFile& listed, const Item* carved) { report.AddFile(listed, carved); },
        [&](const Item& item, std::shared_ptr<const FsFile> pieces) { report.Add(item, std::move(pieces)); });
    const bool named = !file.volumes.empty();
    Item last;  // the last item found, where a part's scan goes on past its end
    bool found = false;
    const Scanner::ItemFn on_item = [&](const Item& item) {
        last = item;
        found = true;
        if (!named) {
            report.Add(item);
            return;
        }
        Item around = item;
        std::shared_ptr<const FsFile> pieces =
            options.no_check ? nullptr : AroundIndirectBlocks(fs, mapped, &around);
        merge.Carved(pieces ? around : item, std::move(pieces));
    };
    // A rejected item in ext2/3 free space may be whole around the indirect blocks.
    scanner.OnReject([&](const Item& item) {
        Item around = item;
        std::shared_ptr<const FsFile> pieces =
            named && !options.no_check ? AroundIndirectBlocks(fs, mapped, &around) : nullptr;
        if (pieces) {
            merge.Carved(around, std::move(pieces));
        } else {
            ++file.rejected[{item.check_format, item.check_reason}];
        }
    });
    progress.Start(bounds.end - bounds.begin);
    // Where file systems were read, the space their allocated files use is
    // not carved (its items would be left out): the scan goes from free
    // range to free range, stepping over allocated stretches of at least
    // kMinSkip, and never starts inside the last item it found. A part
    // scans all of its range, so that parts join as one scan.
    std::vector<ScanSpan> spans = {{bounds.begin, bounds.end}};
    if (named && !options.carve_all && !file.part) {
        spans.clear();
        for (const Extents::Range& range : fs.allocated().Gaps(bounds.begin, bounds.end, kMinSkip)) {
            spans.push_back({range.begin, range.end});
        }
    }
    scanner.ScanSpans(spans, on_item, [&](uint64_t position, uint64_t items) {
        progress.Update(position - bounds.begin, items);
        sinks.out.Flush();
        FlushGallery(sinks, false);
        data.Shrank();  // asks the file's size: a shorter file ends the scan at the next position
    });
    if (file.part && sinks.stop.signal() == 0 && !data.Shrank()) {
        file.next_part_from = ScanPastPartEnd(scanner, bounds, found ? &last : nullptr, options.nested, on_item);
    }
    if (sinks.stop.signal() == 0 && !data.Shrank()) merge.Finish();
    progress.Finish();
    uint64_t first_unreadable = 0;
    file.unreadable = data.Unreadable(&first_unreadable);
    if (file.unreadable > 0) {
        sinks.diag.Error(Quoted(path) + ": " + std::to_string(file.unreadable) +
                         " bytes of its media could not be read, the first at " + std::to_string(first_unreadable) +
                         "; they were scanned as zeros");
    }
    if (sinks.stop.AskedWhile("while scanning " + Quoted(path))) return file;
    // The items reported so far were found and read before the file became
    // shorter; the rest of it is not scanned.
    if (data.Shrank()) {
        file.cut_short = "it became shorter while it was read (" + std::to_string(data.SizeNow()) + " of " +
                         std::to_string(file.size) + " bytes left)";
        sinks.diag.Error(Quoted(path) + " became shorter while it was read; stopped");
    }
    report.Finish();
    return file;
}

// audit.txt; for a part, one name per part, so that parts can share DIR.
std::string AuditName(const RunReport& run) {
    if (run.files.size() != 1 || !run.files[0].part) return "audit.txt";
    const FileReport& file = run.files[0];
    return "audit-part-" + std::to_string(file.part_begin) + "-" + std::to_string(file.part_end) + ".txt";
}

// The DFXML report and the audit, from what the scan spooled.
void WriteReports(const Options& options, RunReport* run, ReportFiles* files, Diagnostics& diag) {
    std::string error;
    if (!options.dfxml.empty()) {
        run->messages = diag.lines();
        if (!WriteSpooledFile(options.dfxml, DfxmlHead(*run), &files->dfxml_items, kDfxmlTail, &error)) {
            diag.Error(error);
        }
    }
    if (!options.out.empty()) {
        run->messages = diag.lines();
        const std::string path = options.out + "/" + AuditName(*run);
        // With --out-append the earlier runs' audits stay in front of this one.
        const std::string head = (options.out_append ? ReadAudit(path) : "") + AuditHead(*run);
        if (!WriteSpooledFile(path, head, &files->audit_items, AuditTail(*run), &error)) diag.Error(error);
    }
}

}  // namespace

int RunScan(const Options& options, const Environment& environment, std::ostream& out,
            std::ostream& err) {
    const auto start = std::chrono::steady_clock::now();
    Diagnostics diag(err);
    const std::string plugin_dir =
        options.plugins_dir.empty() ? environment.default_plugin_dir : options.plugins_dir;
    RunReport run;
    run.started = UtcNow();
    run.command_line = options.command_line;
    run.options = SettingsLine(options, plugin_dir);
    run.out_dir = options.out;
    run.checked = !options.no_check;

    const std::unique_ptr<LoadedDetectors> loaded =
        LoadDetectors({plugin_dir, options.order, options.scan_signs, options.exhaustive}, diag);
    if (loaded == nullptr) return kExitUsage;
    run.plugin_names = loaded->plugin_names;
    run.plugin_states = loaded->plugin_states;

    const std::unique_ptr<ReportFiles> files = OpenReportFiles(options, diag);
    if (files == nullptr) return kExitErrors;

    StopRequest stop(environment.stop);
    Stdout printer(out, diag);
    Progress progress(environment.terminal && !options.quiet, err);
    std::set<std::string> stems;
    for (const std::string& path : options.files) {
        if (files->extraction_failed || stop.signal() != 0) break;
        run.files.push_back(
            ScanInput(path, &stems, options, environment.self, *loaded, {*files, printer, diag, stop}, progress));
    }
    loaded->plugins.Unload();
    // The page shows what was found, whatever ends the run.
    FlushGallery({*files, printer, diag, stop}, true);
    if (stop.signal() != 0) {
        diag.Error(stop.Line());
        return StopExitCode(stop.signal());
    }

    if (!options.json && run.files.size() > 1) {
        size_t items = 0, scanned = 0;
        for (const FileReport& file : run.files) {
            items += file.streamed;
            scanned += file.error.empty();
        }
        // Inputs that could not be scanned count apart, as in the audit.
        const std::string inputs = std::to_string(run.files.size()) + " inputs";
        printer.Line("total: " + std::to_string(items) + (items == 1 ? " item" : " items") + " in " +
                     (scanned == run.files.size() ? inputs : std::to_string(scanned) + " of " + inputs));
        printer.Flush();
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    WriteReports(options, &run, files.get(), diag);
    return diag.error_count() > 0 ? kExitErrors : kExitOk;
}
