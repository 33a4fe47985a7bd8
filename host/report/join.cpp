// hound join: parts of one scan put together by where their scans meet.
//
// Part k reports the items of its own scan from its begin, then the items
// that this scan finds behind its end until it meets the scan of part k+1
// (next_part_from). A part's scan is the whole scan's from the first
// position at which both ask, so: going through the parts in order, with
// reach the furthest next_part_from so far, the whole scan's items are each
// part's items at or behind reach.
#include "host/report/join.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "host/base/names.h"
#include "host/check/formats.h"
#include "host/options.h"
#include "host/report/extract.h"
#include "host/report/gallery.h"
#include "host/report/out_folder.h"
#include "host/report/output.h"
#include "host/report/output_paths.h"

namespace {

using Json = nlohmann::ordered_json;

struct Part {
    uint64_t begin = 0, end = 0, next_part_from = 0, file_size = 0;
    std::vector<Json> items;
    std::string source;        // the file of JSON lines it came from
    bool has_options = false;  // the part line gives the scan's "options" (older ones do not)
    std::string options;
};

struct Input {
    std::vector<Part> parts;
    std::vector<Json> pending;  // items not yet closed by their part line
};

// A path field as the scan wrote it: from "<key>_bytes" when the path is
// not UTF-8 (the text field then holds U+FFFD for the other bytes).
std::string RawPath(const Json& line, const std::string& key) {
    std::string bytes;
    const auto raw = line.find(key + "_bytes");
    if (raw != line.end() && raw->is_string() && FromHex(raw->get<std::string>(), &bytes)) return bytes;
    return line.value(key, std::string());
}

std::string Dump(const Json& line) {
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The parts must tile [0, file size) without a gap or an overlap.
std::string TilingProblem(const std::vector<Part>& parts) {
    uint64_t at = 0;
    for (const Part& part : parts) {
        if (part.file_size != parts.front().file_size) return "the parts give different file sizes";
        if (part.begin != at) {
            return (part.begin > at ? "no part covers positions " : "parts overlap at positions ") +
                   std::to_string(std::min(at, part.begin)) + " to " +
                   std::to_string(std::max(at, part.begin));
        }
        at = part.end;
    }
    if (at != parts.front().file_size) {
        return "no part covers positions " + std::to_string(at) + " to " +
               std::to_string(parts.front().file_size);
    }
    return "";
}

// Parts scanned with options that change which items are found do not make
// one scan.
std::string OptionsProblem(const std::vector<Part>& parts) {
    const auto told = [](const Part& part) {
        return (part.has_options ? Quoted(part.options) : std::string("none given")) + " in " + Quoted(part.source);
    };
    for (const Part& part : parts) {
        if (part.has_options != parts.front().has_options || part.options != parts.front().options) {
            return "the parts were scanned with different options (" + told(parts.front()) + ", " + told(part) + ")";
        }
    }
    return "";
}

// The whole scan's items; the "extracted" paths of the items kept and of
// those left out are added to *kept and *dropped.
std::vector<Json> Join(const std::vector<Part>& parts, std::set<std::string>* kept,
                       std::set<std::string>* dropped) {
    std::vector<Json> joined;
    uint64_t reach = 0;
    for (const Part& part : parts) {
        for (Json item : part.items) {
            const std::string extracted = RawPath(item, "extracted");
            if (item["offset"].get<uint64_t>() < reach) {
                // The whole scan was inside an earlier item here; or it asks
                // here too, and an earlier part reported the same item.
                if (!extracted.empty()) dropped->insert(extracted);
                continue;
            }
            if (!extracted.empty()) kept->insert(extracted);
            item.erase("after_range");
            joined.push_back(std::move(item));
        }
        reach = std::max(reach, part.next_part_from);
    }
    return joined;
}

// A joined item as the reports hold it: its codes read back from their texts.
// Seconds since 1970 of an ISO 8601 UTC time as the JSON lines write it; 0 when none.
int64_t Seconds(const Json& line, const char* key) {
    std::tm utc{};
    const std::string text = line.value(key, std::string());
    if (text.empty() || strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc) == nullptr) return 0;
    return timegm(&utc);
}

// The file-system fields of a listed file's line, or the runs of an item
// carved in pieces.
std::shared_ptr<const FsFile> ListedFile(const Json& line, const Item& item) {
    auto file = std::make_shared<FsFile>();
    file->path = RawPath(line, "path");
    file->volume = line.value("volume", std::string());
    file->fs_type = line.value("fs", std::string());
    file->inode = line.value("inode", uint64_t{0});
    file->allocated = line.value("allocated", true);
    file->size = item.size;
    file->offset = item.offset;
    file->mtime = Seconds(line, "mtime");
    file->atime = Seconds(line, "atime");
    file->ctime = Seconds(line, "ctime");
    file->crtime = Seconds(line, "crtime");
    if (line.contains("runs") && line["runs"].is_array()) {
        for (const Json& run : line["runs"]) {
            if (!run.is_object()) continue;
            file->runs.push_back(run.contains("sparse")
                                     ? FsRun{0, run.value("sparse", uint64_t{0}), true}
                                     : FsRun{run.value("offset", uint64_t{0}), run.value("length", uint64_t{0}), false});
        }
    } else {
        file->runs.push_back({item.offset, item.size_in_file, false});
    }
    return file;
}

ReportedItem ToReported(const Json& line, const std::string& stem, const std::string& out_dir,
                        std::vector<std::string>* plugins) {
    ReportedItem reported;
    Item& item = reported.item;
    item.offset = line.value("offset", uint64_t{0});
    item.size = line.value("size", uint64_t{0});
    item.size_in_file = line.value("size_in_file", uint64_t{0});
    item.plugin_size = line.value("plugin_size", item.size);
    item.truncated = line.value("truncated", false);
    item.extension = line.value("ext", std::string());
    item.description = line.value("description", std::string());
    const std::string plugin = line.value("plugin", std::string());
    const auto known = std::find(plugins->begin(), plugins->end(), plugin);
    item.plugin = static_cast<uint32_t>(known - plugins->begin());
    if (known == plugins->end()) plugins->push_back(plugin);
    item.check = CheckStateCode(line.value("check", std::string()));
    item.check_format = FindFormat(line.value("checker", std::string()));
    const std::string extracted = RawPath(line, "extracted");
    reported.written = !extracted.empty();
    const std::string prefix = out_dir + "/";
    reported.name = reported.written && extracted.rfind(prefix, 0) == 0
                        ? extracted.substr(prefix.size())
                        : SafeExtension(item.extension) + "/" +
                              ItemFileName(stem, item.offset, SafeExtension(item.extension));
    for (const char* type : {"md5", "sha1", "sha256", "sha512"}) {
        if (line.contains(type)) reported.digests.push_back({type, line[type].get<std::string>()});
    }
    uint64_t inside_at = 0;
    reported.not_extracted = UnreadCode(line.value("not_extracted", std::string()), &inside_at);
    reported.not_hashed = UnreadCode(line.value("not_hashed", std::string()), &reported.inside_at);
    if (reported.not_extracted != Unread::kNo) reported.inside_at = inside_at;
    if (line.contains("path") || line.contains("runs")) reported.fs = ListedFile(line, item);
    reported.overwritten = line.value("overwritten", false);
    return reported;
}

bool WriteJoinedReports(const Options& options, const RunReport& run, std::ostream& err) {
    bool written = true;
    std::string error;
    if (!options.dfxml.empty()) {
        const std::string xml = DfxmlReport(run);
        written = WriteReportFile(options.dfxml, xml, &error) && written;
    }
    if (!options.out.empty()) {
        const std::string audit = AuditText(run);
        written = WriteFileAtomically(options.out + "/audit.txt", audit.data(), audit.size(), &error) &&
                  written;
    }
    if (!written) err << "hound: " << error << '\n';
    if (!options.out.empty()) {
        // The joined items replace the parts' (and an earlier join's) on the gallery page.
        Gallery gallery;
        error = gallery.Open(options.out, "join-" + std::to_string(std::time(nullptr)) + "-" +
                                              std::to_string(getpid()));
        if (error.empty()) {
            gallery.RemoveFiles("part-");
            gallery.RemoveFiles("join-");
            for (const FileReport& file : run.files) {
                for (const ReportedItem& item : file.items) {
                    struct stat info;
                    const bool thumbnail =
                        item.written && lstat((options.out + "/" + ThumbnailName(item.name)).c_str(), &info) == 0 &&
                        S_ISREG(info.st_mode);
                    const uint32_t plugin = item.item.plugin;
                    gallery.Add(GalleryRecord(file, item, plugin < run.plugin_names.size() ? run.plugin_names[plugin] : "",
                                              thumbnail));
                    if (error.empty()) error = gallery.Flush(false);
                }
            }
            if (error.empty()) error = gallery.Flush(true);
        }
        if (!error.empty()) {
            err << "hound: " << error << "; it stays as it was\n";
            written = false;
        }
    }
    return written;
}

bool ReadLines(std::istream& in, const std::string& path, std::vector<std::string>* order,
               std::map<std::string, Input>* inputs, std::ostream& err) {
    std::string text;
    for (size_t number = 1; std::getline(in, text); ++number) {
        if (text.empty()) continue;
        Json line = Json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object() || !line["file"].is_string() ||
            !(line.contains("part") || line["offset"].is_number_unsigned())) {
            err << "hound: " << Quoted(path) << " line " << number
                << ": not a JSON line of hound scan --json\n";
            return false;
        }
        const std::string file = RawPath(line, "file");
        if (inputs->find(file) == inputs->end()) order->push_back(file);
        Input& input = (*inputs)[file];
        if (!line.contains("part")) {
            input.pending.push_back(std::move(line));
            continue;
        }
        const Json& fields = line["part"];
        Part part;
        part.begin = fields.value("begin", uint64_t{0});
        part.end = fields.value("end", uint64_t{0});
        part.next_part_from = fields.value("next_part_from", uint64_t{0});
        part.file_size = fields.value("file_size", uint64_t{0});
        part.source = path;
        part.has_options = line.contains("options") && line["options"].is_string();
        if (part.has_options) part.options = line["options"];
        part.items = std::move(input.pending);
        input.pending.clear();
        input.parts.push_back(std::move(part));
    }
    return true;
}

// At most this many lines tell the files left in place; one more counts the rest.
constexpr size_t kMaxNotes = 10;

// Removes the extracted files of the items left out from the parts' --out
// folder. Part files may come from anywhere: a path that leads elsewhere,
// through a link, or to anything but a regular file is left in place with a
// note. Without --out nothing is removed. False when a removal failed.
bool RemoveLeftOut(const std::string& out, OutFolder* folder, const std::set<std::string>& kept,
                   const std::set<std::string>& dropped, std::ostream& err) {
    if (out.empty()) {
        size_t left = 0;
        for (const std::string& path : dropped) left += kept.count(path) == 0 ? 1 : 0;
        if (left > 0) {
            err << "hound: note: " << left << (left == 1 ? " extracted file" : " extracted files")
                << " of items left out stay in place: give --out with the parts' output folder to remove them\n";
        }
        return true;
    }
    // Two spellings of the folder in the parts name one file alike.
    std::set<std::string> kept_names;
    for (const std::string& path : kept) kept_names.insert(folder->NameOf(path));
    size_t notes = 0;
    bool removed = true;
    const auto note = [&](const std::string& path, const std::string& why) {
        if (++notes <= kMaxNotes) err << "hound: note: " << Quoted(path) << " left in place: " << why << '\n';
    };
    for (const std::string& path : dropped) {
        if (kept.count(path) > 0) continue;
        const std::string name = folder->NameOf(path);
        if (!name.empty() && kept_names.count(name) > 0) continue;
        std::string why = "it lies outside the type folders of the --out folder " + Quoted(out);
        const Removal done = name.empty() ? Removal::kRefused : folder->Remove(name, &why);
        if (done == Removal::kRefused) note(path, why);
        if (done == Removal::kFailed) err << "hound: cannot remove " << Quoted(path) << ": " << why << '\n';
        removed = removed && done != Removal::kFailed;
    }
    if (notes > kMaxNotes) err << "hound: note: " << notes - kMaxNotes << " more extracted files left in place\n";
    return removed;
}

}  // namespace

int RunJoin(const Options& options, std::ostream& out, std::ostream& err) {
    const std::vector<std::string>& paths = options.files;
    std::vector<std::string> order;
    std::map<std::string, Input> inputs;
    for (const std::string& path : paths) {
        std::ifstream file;
        if (path != "-") {
            file.open(path);
            if (!file) {
                err << "hound: cannot read " << Quoted(path) << '\n';
                return kExitErrors;
            }
        }
        if (!ReadLines(path == "-" ? std::cin : file, path, &order, &inputs, err)) return kExitErrors;
    }
    if (RefuseStandardErrorOn(order, "the image", out)) return kExitErrors;
    const std::vector<std::string> refused = CheckJoinOutputPaths(options.dfxml, options.out, paths, order);
    for (const std::string& line : refused) err << "hound: " << line << '\n';
    if (!refused.empty()) return kExitErrors;
    // The output folder of the parts, held alone while the join removes the
    // files of items it leaves out and writes the audit: no part may still
    // be writing there. Its lock file goes with the join.
    OutFolder folder;
    if (!options.out.empty()) {
        const std::string problem = folder.Open(options.out, true);
        if (!problem.empty()) {
            err << "hound: " << problem << '\n';
            return kExitErrors;
        }
    }
    int code = kExitOk;
    std::set<std::string> kept, dropped;  // the "extracted" paths of the items joined and left out
    RunReport run;
    run.command_line = options.command_line;
    run.options = "joined from the parts in " + std::to_string(paths.size()) +
                  (paths.size() == 1 ? " file" : " files");
    run.out_dir = options.out;
    std::set<std::string> stems;
    for (const std::string& name : order) {
        Input& input = inputs[name];
        std::sort(input.parts.begin(), input.parts.end(),
                  [](const Part& a, const Part& b) { return a.begin < b.begin; });
        std::string problem = input.pending.empty() ? "" : "items without the line that closes their part "
                                                           "(a part that did not finish?)";
        if (problem.empty()) problem = input.parts.empty() ? "no part line" : TilingProblem(input.parts);
        if (problem.empty()) problem = OptionsProblem(input.parts);
        if (!problem.empty()) {
            err << "hound: " << Quoted(name) << ": " << problem << "; not joined\n";
            code = kExitErrors;
            continue;
        }
        run.files.emplace_back();
        FileReport& file = run.files.back();
        file.path = name;
        file.size = input.parts.front().file_size;
        // The stem that the scan of these inputs gave, for the names of items not extracted.
        file.stem = UniqueName(SafeStem(name), &stems);
        for (const Json& item : Join(input.parts, &kept, &dropped)) {
            out << Dump(item) << '\n';
            file.items.push_back(ToReported(item, file.stem, options.out, &run.plugin_names));
            // Counted as the whole run's audit counts them.
            const Unread unread = file.items.back().not_extracted;
            if (unread == Unread::kInsideTruncated) ++file.inside_truncated;
            if (unread == Unread::kOverBound) ++file.over_bound;
            if (unread == Unread::kFileBound) ++file.file_bound;
        }
    }
    out << std::flush;
    if (!out.good()) {
        err << "hound: cannot write the standard output: " << (errno != 0 ? std::strerror(errno) : "write failed")
            << '\n';
        code = kExitErrors;
    }
    if (!RemoveLeftOut(options.out, &folder, kept, dropped, err)) code = kExitErrors;
    if (!WriteJoinedReports(options, run, err)) code = kExitErrors;
    return code;
}
