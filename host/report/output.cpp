// The output forms: table, JSON lines, DFXML, audit summary.
#include "host/report/output.h"

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "host/base/interrupt.h"
#include "host/base/names.h"
#include "host/check/formats.h"
#include "host/options.h"
#include "host/report/display_width.h"

namespace {

std::string PadRight(const std::string& text, size_t width) {
    const size_t shown = DisplayWidth(text);
    return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The states' texts, by code.
constexpr const char* kCheckStateNames[] = {"", "unchecked", "valid", "invalid"};

// What the check stage said: nothing when it was off.
std::string CheckText(const Item& item) {
    if (item.check != CheckState::kValid || item.size == item.plugin_size) return CheckStateName(item.check);
    return "valid, size corrected from " + std::to_string(item.plugin_size);
}

std::string Flags(const Item& item) {
    std::string flags = CheckText(item);
    if (!item.truncated) return flags;
    return flags + (flags.empty() ? "" : "; ") + "truncated (" + std::to_string(item.size_in_file) +
           " of " + std::to_string(item.size) + " bytes in the file)";
}

const std::string& PluginName(const std::vector<std::string>& names, uint32_t plugin) {
    static const std::string kUnknown = "?";
    return plugin < names.size() ? names[plugin] : kUnknown;
}

}  // namespace

const std::string& ItemFinder(const ReportedItem& item, const std::vector<std::string>& plugin_names) {
    return item.fs && item.fs->Listed() ? item.fs->fs_type : PluginName(plugin_names, item.item.plugin);
}

namespace {

std::string OutPath(const std::string& out_dir, const std::string& name) {
    return out_dir + "/" + name;
}

// A path as JSON holds it: key as valid UTF-8 text, and when that text is
// not the path's bytes, key_bytes with them in hexadecimal.
void PutPath(nlohmann::ordered_json& line, const std::string& key, const std::string& path) {
    line[key] = ValidUtf8(path);
    if (!IsValidUtf8(path)) line[key + "_bytes"] = HexBytes(path);
}

// Seconds since 1970 as ISO 8601 UTC.
std::string IsoTime(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc;
    if (gmtime_r(&time, &utc) == nullptr) return "";
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// A file's times by name, those that are known.
std::vector<std::pair<const char*, int64_t>> Times(const FsFile& file) {
    std::vector<std::pair<const char*, int64_t>> times;
    for (const auto& [name, seconds] : {std::pair<const char*, int64_t>{"mtime", file.mtime},
                                        {"atime", file.atime}, {"ctime", file.ctime}, {"crtime", file.crtime}}) {
        if (seconds > 0) times.emplace_back(name, seconds);
    }
    return times;
}

// "p1:/DCIM/a.jpg" for a file in partition 1, "/DCIM/a.jpg" for one in a
// file system that fills the input: as the table and audit name a file.
std::string VolumePath(const FsFile& file) {
    return file.volume == kWholeVolume ? file.path : file.volume + ":" + file.path;
}

}  // namespace

namespace {

constexpr std::string_view kInsideTruncated = "inside the truncated item at ";
constexpr std::string_view kStoppedBy = "stopped by ";

}  // namespace

const char* CheckStateName(CheckState state) { return kCheckStateNames[static_cast<int>(state)]; }

CheckState CheckStateCode(std::string_view name) {
    for (int state = 0; state < 4; ++state) {
        if (name == kCheckStateNames[state]) return static_cast<CheckState>(state);
    }
    return CheckState::kOff;
}

std::string UnreadText(Unread unread, uint64_t inside_at) {
    switch (unread) {
    case Unread::kNo: break;
    case Unread::kInsideTruncated: return std::string(kInsideTruncated) + HexOffset(inside_at);
    case Unread::kOverBound: return "beyond " + std::to_string(kExtractBound) + " times the input's size";
    case Unread::kFileBound: return "beyond the --max-files files of an input";
    case Unread::kShrank: return "the input became shorter while it was read";
    case Unread::kWriteFailed: return "the extraction stopped at a failed write";
    case Unread::kStopped: return std::string(kStoppedBy) + StopSignalName(static_cast<int>(inside_at));
    case Unread::kOverwritten: return "overwritten: its blocks now hold other data";
    }
    return "";
}

Unread UnreadCode(std::string_view text, uint64_t* inside_at) {
    *inside_at = 0;
    if (text.rfind(kInsideTruncated, 0) == 0) {
        *inside_at = std::strtoull(std::string(text.substr(kInsideTruncated.size())).c_str(), nullptr, 16);
        return Unread::kInsideTruncated;
    }
    if (text.rfind(kStoppedBy, 0) == 0) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            if (text.substr(kStoppedBy.size()) == StopSignalName(signal)) *inside_at = static_cast<uint64_t>(signal);
        }
        return Unread::kStopped;
    }
    for (Unread unread :
         {Unread::kOverBound, Unread::kFileBound, Unread::kShrank, Unread::kWriteFailed, Unread::kOverwritten}) {
        if (text == UnreadText(unread, 0)) return unread;
    }
    return Unread::kNo;
}

std::string HexOffset(uint64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08" PRIx64, offset);
    return text;
}

TableRow TableHeader(bool paths) {
    return {{"offset (hex)", "offset", "size", "ext", "description", "plug-in", "flags", paths ? "path" : ""}};
}

TableRow TableCells(const ReportedItem& reported, const std::string& plugin) {
    const Item& item = reported.item;
    std::string flags = Flags(item);
    std::string path;
    if (reported.fs && reported.fs->Listed()) {
        const std::string state = !reported.fs->allocated ? (reported.overwritten ? "deleted, overwritten" : "deleted") : "";
        if (!state.empty()) flags = state + (flags.empty() ? "" : "; ") + flags;
        path = Printable(VolumePath(*reported.fs));
    }
    return {{HexOffset(item.offset), std::to_string(item.offset), std::to_string(item.size),
             Printable(item.extension), Printable(item.description), plugin, flags, path}};
}

std::string TableLine(const TableRow& row, const size_t (&widths)[kTableColumns]) {
    std::string line = "  " + PadRight(row.cells[0], widths[0]);
    for (int c = 1; c < 3; ++c) line += "  " + PadLeft(row.cells[c], widths[c]);
    for (int c = 3; c < kTableColumns; ++c) line += "  " + PadRight(row.cells[c], widths[c]);
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::string TableHeading(const FileReport& file) {
    uint64_t truncated = file.streamed_truncated;
    for (const ReportedItem& reported : file.items) truncated += reported.item.truncated;
    std::string heading = Printable(file.path) + ": " +
                          Count(file.items.size() + file.streamed, "item", "items") + " in " +
                          std::to_string(file.size) + " bytes";
    if (!file.container.empty()) heading += " of " + file.container + " media";
    if (truncated > 0) heading += " (" + std::to_string(truncated) + " truncated)";
    return heading;
}

void PrintTable(std::ostream& out, const FileReport& file,
                const std::vector<std::string>& plugin_names) {
    out << TableHeading(file) << '\n';
    if (file.items.empty()) return;

    std::vector<TableRow> rows = {TableHeader(!file.volumes.empty())};
    for (const ReportedItem& reported : file.items) {
        rows.push_back(TableCells(reported, ItemFinder(reported, plugin_names)));
    }
    size_t widths[kTableColumns] = {};
    for (const TableRow& row : rows) {
        for (int c = 0; c < kTableColumns; ++c) widths[c] = std::max(widths[c], DisplayWidth(row.cells[c]));
    }
    for (const TableRow& row : rows) out << TableLine(row, widths) << '\n';
}

nlohmann::ordered_json JsonItem(const FileReport& file, const ReportedItem& reported, const std::string& plugin,
                                const std::string& out_dir) {
    const Item& item = reported.item;
    nlohmann::ordered_json line;
    PutPath(line, "file", file.path);
    if (!file.container.empty()) line["container"] = file.container;
    line["offset"] = item.offset;
    line["offset_hex"] = HexOffset(item.offset);
    line["size"] = item.size;
    line["size_in_file"] = item.size_in_file;
    line["truncated"] = item.truncated;
    if (item.check != CheckState::kOff) {
        line["check"] = CheckStateName(item.check);
        if (item.check_format != kNoFormat) line["checker"] = FormatName(item.check_format);
        line["plugin_size"] = item.plugin_size;
    }
    line["ext"] = ValidUtf8(item.extension);
    line["description"] = ValidUtf8(item.description);
    line["plugin"] = plugin;
    for (const Digest& digest : reported.digests) line[digest.type] = digest.hex;
    if (reported.fs) {
        const FsFile& fs = *reported.fs;
        if (fs.Listed()) {
            PutPath(line, "path", fs.path);
            line["volume"] = fs.volume;
            line["fs"] = fs.fs_type;
            line["inode"] = fs.inode;
            line["allocated"] = fs.allocated;
            if (reported.overwritten) line["overwritten"] = true;
            for (const auto& [name, seconds] : Times(fs)) line[name] = IsoTime(seconds);
        }
        if (fs.runs.size() > 1) {
            nlohmann::ordered_json runs = nlohmann::ordered_json::array();
            for (const FsRun& run : fs.runs) {
                runs.push_back(run.sparse ? nlohmann::ordered_json{{"sparse", run.length}}
                                          : nlohmann::ordered_json{{"offset", run.offset}, {"length", run.length}});
            }
            line["runs"] = std::move(runs);
        }
    }
    if (file.part && item.offset >= file.part_end) line["after_range"] = true;
    if (reported.written) PutPath(line, "extracted", OutPath(out_dir, reported.name));
    if (reported.not_extracted != Unread::kNo) {
        line["not_extracted"] = UnreadText(reported.not_extracted, reported.inside_at);
    }
    if (reported.not_hashed != Unread::kNo) line["not_hashed"] = UnreadText(reported.not_hashed, reported.inside_at);
    return line;
}

std::string JsonLine(const FileReport& file, const ReportedItem& reported,
                     const std::string& plugin, const std::string& out_dir) {
    return JsonItem(file, reported, plugin, out_dir).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string PartJsonLine(const FileReport& file, const std::string& options) {
    nlohmann::ordered_json line;
    PutPath(line, "file", file.path);
    line["part"] = {{"begin", file.part_begin},
                    {"end", file.part_end},
                    {"next_part_from", file.next_part_from},
                    {"file_size", file.size}};
    if (!options.empty()) line["options"] = ValidUtf8(options);
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string PartText(const FileReport& file) {
    std::string text = "part: items from positions " + std::to_string(file.part_begin) + " to " +
                       std::to_string(file.part_end) + " (exclusive)";
    if (file.next_part_from > file.part_end) {
        text += ", and behind them up to " + std::to_string(file.next_part_from) +
                ", where the scan of the next part joins";
    }
    return text;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (char c : ValidUtf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': case '\n': case '\r': out += c; break;
        default: out += static_cast<uint8_t>(c) < 0x20 ? '?' : c;
        }
    }
    // U+FFFE and U+FFFF are well-formed UTF-8 but not XML characters.
    for (const char* bad : {"\xEF\xBF\xBE", "\xEF\xBF\xBF"}) {
        for (size_t at = out.find(bad); at != std::string::npos; at = out.find(bad, at)) {
            out.replace(at, 3, "?");
        }
    }
    return out;
}

std::string DfxmlHead(const RunReport& run) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<dfxml xmloutputversion=\"1.0\""
        << " xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\""
        << " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
        << " xmlns:hound=\"urn:x-hound:item\">\n"
        << "  <metadata>\n    <dc:type>Carve Report</dc:type>\n  </metadata>\n"
        << "  <creator version=\"1.0\">\n"
        << "    <program>hound</program>\n"
        << "    <version>" << kHoundVersion << "</version>\n"
        << "    <execution_environment>\n"
        << "      <command_line>" << XmlEscape(run.command_line) << "</command_line>\n"
        << "      <start_time>" << XmlEscape(run.started) << "</start_time>\n"
        << "    </execution_environment>\n"
        << "  </creator>\n";
    for (const FileReport& file : run.files) {
        if (!file.error.empty()) continue;
        xml << "  <source>\n    <image_filename>" << XmlEscape(file.path) << "</image_filename>\n"
            << "    <image_size>" << file.size << "</image_size>\n";
        // An evidence image: its format and files, and the digests of the
        // media that it recorded when it was made.
        if (!file.container.empty()) {
            xml << "    <hound:container format=\"" << XmlEscape(file.container) << "\">\n";
            for (const std::string& segment : file.segments) {
                xml << "      <hound:segment>" << XmlEscape(segment) << "</hound:segment>\n";
            }
            xml << "    </hound:container>\n";
            for (const auto& [type, hex] : file.acquisition_hashes) {
                xml << "    <hashdigest type=\"" << XmlEscape(type) << "\">" << XmlEscape(hex) << "</hashdigest>\n";
            }
        }
        if (file.part) {
            xml << "    <hound:part begin=\"" << file.part_begin << "\" end=\"" << file.part_end
                << "\" next_part_from=\"" << file.next_part_from << "\"/>\n";
        }
        xml << "  </source>\n";
    }
    return xml.str();
}

std::string DfxmlObject(const FileReport& file, const ReportedItem& reported, const std::string& plugin) {
    std::ostringstream xml;
    const Item& item = reported.item;
    xml << "  <fileobject>\n";
    if (reported.fs && reported.fs->Listed()) {
        // As file-system walkers write a file: its path from the volume's root, inode, state and times.
        const FsFile& fs = *reported.fs;
        xml << "    <filename>" << XmlEscape(fs.path.substr(fs.path.empty() ? 0 : 1)) << "</filename>\n"
            << "    <hound:volume name=\"" << XmlEscape(fs.volume) << "\" ftype=\"" << XmlEscape(fs.fs_type)
            << "\"/>\n"
            << "    <filesize>" << fs.size << "</filesize>\n"
            << "    <alloc>" << (fs.allocated ? 1 : 0) << "</alloc>\n"
            << "    <inode>" << fs.inode << "</inode>\n";
        for (const auto& [name, seconds] : Times(fs)) {
            xml << "    <" << name << ">" << IsoTime(seconds) << "</" << name << ">\n";
        }
        if (reported.written) xml << "    <hound:extracted>" << XmlEscape(reported.name) << "</hound:extracted>\n";
        if (reported.overwritten) xml << "    <hound:overwritten/>\n";
    } else {
        xml << "    <filename>" << XmlEscape(reported.name) << "</filename>\n"
            << "    <filesize>" << item.size_in_file << "</filesize>\n";
    }
    xml
        << "    <hound:item image=\"" << XmlEscape(file.path) << "\" ext=\""
        << XmlEscape(item.extension) << "\" description=\"" << XmlEscape(item.description)
        << "\" plugin=\"" << XmlEscape(plugin)
        << "\" size=\"" << item.size << "\" truncated=\"" << (item.truncated ? 1 : 0)
        << "\"";
    if (item.check != CheckState::kOff) {
        xml << " check=\"" << CheckStateName(item.check)
            << "\" plugin_size=\"" << item.plugin_size << "\"";
    }
    xml << "/>\n"
        << "    <byte_runs>\n";
    if (reported.fs && !reported.fs->held) {
        uint64_t at = 0;
        for (const FsRun& run : reported.fs->runs) {
            xml << "      <byte_run file_offset=\"" << at << "\"";
            if (run.sparse) {
                xml << " type=\"sparse\"";
            } else {
                xml << " img_offset=\"" << run.offset << "\"";
            }
            xml << " len=\"" << run.length << "\"/>\n";
            at += run.length;
        }
    } else if (!reported.fs) {
        xml << "      <byte_run offset=\"0\" img_offset=\"" << item.offset << "\" len=\"" << item.size_in_file
            << "\"/>\n";
    }
    xml << "    </byte_runs>\n";
    for (const Digest& digest : reported.digests) {
        xml << "    <hashdigest type=\"" << digest.type << "\">" << digest.hex << "</hashdigest>\n";
    }
    xml << "  </fileobject>\n";
    return xml.str();
}

std::string DfxmlReport(const RunReport& run) {
    std::string xml = DfxmlHead(run);
    for (const FileReport& file : run.files) {
        for (const ReportedItem& reported : file.items) {
            xml += DfxmlObject(file, reported, ItemFinder(reported, run.plugin_names));
        }
    }
    return xml + kDfxmlTail;
}

std::string AuditHead(const RunReport& run) {
    std::ostringstream text;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", run.seconds);
    text << "hound " << kHoundVersion << " scan audit\n"
         << "command:    " << Printable(run.command_line) << '\n'
         << "started:    " << run.started << '\n'
         << "time taken: " << seconds << '\n'
         << "options:    " << Printable(run.options) << '\n'
         << "plug-ins:\n";
    for (const std::string& state : run.plugin_states) text << "  " << Printable(state) << '\n';

    text << "inputs:\n";
    for (const FileReport& file : run.files) {
        text << "  " << Printable(file.path) << "  ";
        if (!file.error.empty()) {
            text << "not scanned: " << Printable(file.error) << '\n';
            continue;
        }
        text << file.size << " bytes  " << Count(file.items.size() + file.streamed, "item", "items");
        if (file.part) text << "  " << PartText(file);
        if (!file.cut_short.empty()) text << "  scan stopped: " << Printable(file.cut_short);
        text << '\n';
    }
    text << "items (input, offset hex, offset, size, plug-in, extracted file, description, "
            "digests, flags):\n";
    return text.str();
}

std::string AuditItemLine(const FileReport& file, const ReportedItem& reported, const std::string& plugin) {
    // Items that the extraction rule leaves out are counted in the tail, not
    // listed: however many there are, the audit stays small.
    if (ByExtractionRule(reported.not_extracted)) return "";
    const Item& item = reported.item;
    std::ostringstream text;
    text << "  " << Printable(file.path) << "  " << HexOffset(item.offset) << "  " << item.offset
         << "  " << item.size << "  " << plugin << "  "
         << (reported.written ? reported.name
             : reported.not_extracted == Unread::kNo
                 ? "(not written)"
                 : "(not written: " + UnreadText(reported.not_extracted, reported.inside_at) + ")")
         << "  \""
         << Printable(item.description) << '"';
    for (const Digest& digest : reported.digests) text << "  " << digest.type << ':' << digest.hex;
    const std::string flags = Flags(item);
    if (!flags.empty()) text << "  " << flags;
    if (reported.fs && reported.fs->Listed()) {
        text << "  " << (reported.fs->allocated ? "" : reported.overwritten ? "deleted, overwritten, " : "deleted, ")
             << "path " << Quoted(VolumePath(*reported.fs));
    }
    text << '\n';
    return text.str();
}

std::string AuditTail(const RunReport& run) {
    std::ostringstream text;
    std::map<std::string, uint64_t> per_type;
    uint64_t scanned = 0, total = 0, truncated = 0, inside = 0, over = 0, files_over = 0;
    for (const FileReport& file : run.files) {
        for (const ReportedItem& reported : file.items) {
            ++per_type[SafeExtension(reported.item.extension)];
            truncated += reported.item.truncated;
        }
        for (const auto& [type, count] : file.streamed_types) per_type[type] += count;
        scanned += file.error.empty();
        total += file.items.size() + file.streamed;
        truncated += file.streamed_truncated;
        inside += file.inside_truncated;
        over += file.over_bound;
        files_over += file.file_bound;
    }
    text << "counts per type:\n";
    for (const auto& [type, count] : per_type) text << "  " << type << "  " << count << '\n';
    text << "total: " << Count(total, "item", "items") << " in " << scanned << " of "
         << Count(run.files.size(), "input", "inputs") << '\n';
    uint64_t named = 0, named_deleted = 0, named_overwritten = 0;
    for (const FileReport& file : run.files) {
        named += file.named;
        named_deleted += file.named_deleted;
        named_overwritten += file.named_overwritten;
    }
    if (named > 0) {
        text << "named by their file systems: " << Count(named, "file", "files") << " (" << named_deleted
             << " deleted, " << named_overwritten << " of them overwritten); the other " << total - named
             << " carved\n";
    }
    text << "truncated: " << truncated << " (reaching past the end of their input)\n"
         << "not extracted: " << inside << " inside an earlier truncated item, " << over
         << " beyond " << kExtractBound << " times their input's size"
         << (files_over > 0 ? ", " + std::to_string(files_over) + " beyond the --max-files files of their input" : "")
         << '\n'
         << "extraction rule: an item that starts inside an earlier truncated item of its input "
            "is neither extracted nor hashed (its bytes are in that item's file) unless --nested is "
            "given; the bytes extracted from an input stay within "
         << kExtractBound << " times its size\n";
    if (run.checked) {
        std::map<std::string, uint64_t> rejected;
        for (const FileReport& file : run.files) {
            for (const auto& [code, count] : file.rejected) {
                rejected[std::string(FormatName(code.first)) + ": " + ReasonText(code.first, code.second)] += count;
            }
        }
        text << "rejected by the checks (checker: reason, count):" << (rejected.empty() ? " none" : "")
             << '\n';
        for (const auto& [reason, count] : rejected) text << "  " << reason << "  " << count << '\n';
    }
    text << "messages:" << (run.messages.empty() ? " none" : "") << '\n';
    for (const std::string& message : run.messages) text << "  " << Printable(message) << '\n';
    return text.str();
}

std::string AuditText(const RunReport& run) {
    std::string text = AuditHead(run);
    for (const FileReport& file : run.files) {
        for (const ReportedItem& reported : file.items) {
            text += AuditItemLine(file, reported, ItemFinder(reported, run.plugin_names));
        }
    }
    return text + AuditTail(run);
}
