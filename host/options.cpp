// The command line of hound.
#include "host/options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstring>
#include <functional>
#include <set>

#include "host/base/names.h"
#include "host/known_plugins.h"
#include "host/report/hashes.h"

namespace {

// "hound scans files ... (jpeghound for ...; markhound for ...), lists them, and extracts them."
std::string Description() {
    std::string plugins;
    for (const KnownPlugin& plugin : KnownPlugins()) {
        plugins += (plugins.empty() ? "" : "; ") + std::string(plugin.name) + " for " + plugin.finds;
    }
    return "hound scans files for embedded items with its detector plug-ins (" + plugins +
           "), lists them, and extracts them.";
}

// What --order says of the plug-ins left out of the default order.
std::string LeftOutOfTheDefaultOrder() {
    std::string text;
    for (const KnownPlugin& plugin : KnownPlugins()) {
        if (plugin.in_default_order) continue;
        text += (text.empty() ? " (" : "; ") + std::string(plugin.name) + " is left out by default: " +
                plugin.left_out_because;
    }
    return text.empty() ? text : text + ")";
}

const char* const kFooter =
    "Output: a table on stdout; with --json one JSON object per line instead. --dfxml writes a "
    "DFXML report as well. With --out DIR every item is written to DIR/<ext>/<input "
    "name>-<offset in hex>.<ext>, with DIR/audit.txt summing up the run.\n"
    "Exit codes: 0 done; 1 some input, plug-in or output failed (the rest was still done); 2 "
    "bad command line, or no plug-in could be used; 128 + N stopped by signal N (SIGINT, SIGTERM "
    "or SIGHUP), its unfinished file removed.";

const char* const kSignsFooter =
    "Lists the signatures in the order they are asked, each with its numbers and the file "
    "and section it comes from; every section or include that gives nothing, with the reason; "
    "and warnings about patterns that match too easily and tokens whose byte surprises.\n"
    "Exit codes: 0 at least one signature; 1 none; 2 the file cannot be read.";

// The argument as a shell would need it, for the command line in reports.
std::string ShellWord(const std::string& word) {
    bool plain = !word.empty();
    for (char c : word) {
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("+,-./:=@_", c));
    }
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

namespace {

// The names of an option's comma-separated list, in order: each passes
// check (which gives "" or what is wrong with the name), none comes twice.
bool ParseNames(const std::string& option, const std::string& text,
                const std::function<std::string(const std::string&)>& check,
                std::vector<std::string>* names, std::string* error) {
    names->clear();
    std::set<std::string> seen;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string name = text.substr(start, comma == std::string::npos ? comma : comma - start);
        std::string problem = check(name);
        if (problem.empty() && !seen.insert(name).second) problem = "'" + name + "' named twice";
        if (!problem.empty()) {
            *error = option + ": " + problem;
            return false;
        }
        names->push_back(name);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

}  // namespace

bool ParseOrder(const std::string& text, std::vector<std::string>* names, std::string* error) {
    return ParseNames("--order", text, [&](const std::string& name) -> std::string {
        if (name.empty()) return "empty plug-in name in '" + text + "'";
        for (char c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') {
                return "'" + name + "' is not a plug-in name ([A-Za-z0-9_-])";
            }
        }
        return "";
    }, names, error);
}

bool ParseHashList(const std::string& text, std::vector<std::string>* names, std::string* error) {
    if (text == "none") {
        names->clear();
        return true;
    }
    return ParseNames("--hash", text, [](const std::string& name) -> std::string {
        return IsHashName(name) ? "" : "'" + name + "' is not one of md5, sha1, sha256, sha512 (or none)";
    }, names, error);
}

namespace {

// A check that makes CLI11 refuse the value with hound's own message
// ("<option>: <problem>"; CLI11 puts the option's name in front).
CLI::Validator Checked(const std::string& option, const std::function<std::string(const std::string&)>& problem) {
    return CLI::Validator(
        [option, problem](std::string& text) {
            const std::string line = problem(text);
            const std::string prefix = option + ": ";
            return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line;
        },
        "");
}

// The scan's lists and byte counts, read as CLI11 takes each option; the
// error text is hound's own.
struct ScanTexts {
    std::string order = DefaultOrder();
    std::string hashes = kDefaultHashes;
    std::string min_size, max_size, max_files, range, part;
};

CLI::App* AddScan(CLI::App& app, Options* options, ScanTexts* texts) {
    CLI::App* scan = app.add_subcommand("scan", "Scan files for embedded items");
    scan->add_option("FILE", options->files,
                     "Files (or block devices) to scan; one whose name begins with '-' as ./-name, or "
                     "after --")
        ->required()
        ->check(Checked("FILE", [](const std::string& path) -> std::string {
            if (path != "-") return "";
            return "FILE: '-' would be the standard input, which hound cannot scan (it maps its inputs): "
                   "give a file or block device, or ./- for a file named '-'";
        }));
    scan->add_option("--plugins", options->plugins_dir,
                     "Folder of the plug-ins (default: the folder of the hound executable if they are "
                     "there, else ../lib/hound beside it)")
        ->type_name("DIR");
    scan->add_option("--signs", options->scan_signs,
                     "Signature file for " + SignaturePluginName() +
                         " and its candidate filter, instead of the signs.ini beside it; its "
                         "includes are looked for relative to its folder")
        ->type_name("FILE");
    scan->add_option("--order", texts->order,
                     "Plug-ins to load, in the order they are asked at each position; the first "
                     "that finds an item wins" + LeftOutOfTheDefaultOrder())
        ->type_name("LIST")
        ->capture_default_str()
        ->check(Checked("--order", [options](const std::string& text) {
            std::string error;
            return ParseOrder(text, &options->order, &error) ? "" : error;
        }));
    scan->add_flag("--nested", options->nested,
                   "Ask at every position, also inside found items (default: go on behind each "
                   "item)");
    scan->add_option("--threads", options->threads,
                     "Scan threads (default: one per core); the output is the same for any number")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    scan->add_flag("--exhaustive", options->exhaustive,
                   "Ask every plug-in at every position, also where its rules rule out an item "
                   "(the same items, slower)");
    scan->add_flag("--no-check", options->no_check,
                   "Report the plug-ins' answers as they are, without checking each item against "
                   "its format");
    scan->add_flag("--raw", options->raw,
                   "Scan each input's bytes as they are, also an input that looks like an evidence "
                   "image (E01, split raw, VMDK, VHD, AFF), which is otherwise read as the disk it holds");
    scan->add_flag("--no-fs", options->no_fs,
                   "Do not read the partition tables and file systems on the inputs: carve every "
                   "position, and name no file");
    scan->add_option_function<std::string>(
            "--carve", [options](const std::string& where) { options->carve_all = where == "all"; },
            "Where a file system is read, carve only the space that no allocated file uses "
            "(unallocated, the default) or every position (all)")
        ->type_name("WHERE")
        ->check(CLI::IsMember({"unallocated", "all"}));
    scan->add_flag("--json", options->json, "Print one JSON object per item instead of the table");
    scan->add_option("--dfxml", options->dfxml, "Also write a DFXML report to FILE")
        ->type_name("FILE");
    scan->add_option("--out", options->out,
                     "Extract the items to DIR/<ext>/ and write DIR/audit.txt")
        ->type_name("DIR");
    scan->add_flag("--out-append", options->out_append,
                   "Let --out DIR hold earlier runs' files: new names never take theirs, and "
                   "this run's audit is added to DIR/audit.txt")
        ->needs("--out");
    const auto byte_count = [](const char* option, uint64_t* value) {
        return Checked(option, [option, value](const std::string& text) -> std::string {
            if (ParseSize(text, value)) return "";
            return std::string(option) + ": '" + text + "' is not a byte count";
        });
    };
    scan->add_option("--min-size", texts->min_size,
                     "Report only items of at least N bytes; a smaller one counts as not found "
                     "(suffixes K, M, G, T; 0x for hex)")
        ->type_name("N")
        ->check(byte_count("--min-size", &options->min_size));
    scan->add_option("--max-size", texts->max_size,
                     "Report only items of at most N bytes; a larger one counts as not found")
        ->type_name("N")
        ->check(byte_count("--max-size", &options->max_size));
    scan->add_option("--max-files", texts->max_files,
                     "Extract at most N files from one input (default " + std::to_string(kDefaultMaxFiles) +
                         "); the items after them are reported, not extracted")
        ->type_name("N")
        ->needs("--out")
        ->check(Checked("--max-files", [options](const std::string& text) -> std::string {
            if (ParseSize(text, &options->max_files)) return "";
            return "--max-files: '" + text + "' is not a count";
        }));
    scan->add_option("--hash", texts->hashes,
                     "Digests of each item's bytes for the JSON, DFXML and audit, comma-separated: "
                     "md5, sha1, sha256, sha512; or none")
        ->type_name("LIST")
        ->capture_default_str()
        ->check(Checked("--hash", [options](const std::string& text) {
            std::string error;
            return ParseHashList(text, &options->hashes, &error) ? "" : error;
        }));
    CLI::Option* range_option =
        scan->add_option("--range", texts->range,
                         "Report the items that start in [BEGIN, END) (an item may end past END), "
                         "as one part of a scan that hound join puts together")
            ->type_name("BEGIN:END")
            ->check(Checked("--range", [options](const std::string& text) {
                std::string error;
                return ParseRange(text, &options->part, &error) ? "" : error;
            }));
    scan->add_option("--part", texts->part, "Report part K of N equal ranges of the file (as --range)")
        ->type_name("K/N")
        ->excludes(range_option)
        ->check(Checked("--part", [options](const std::string& text) {
            std::string error;
            return ParsePart(text, &options->part, &error) ? "" : error;
        }));
    scan->add_flag("-q,--quiet", options->quiet, "No progress bar (it shows only on a terminal)");
    scan->footer(kFooter);
    return scan;
}

CLI::App* AddSigns(CLI::App& app, Options* options) {
    CLI::App* signs =
        app.add_subcommand("signs", "Explain what " + SignaturePluginName() + " makes of a signature file");
    signs->add_option("FILE", options->signs_file, "Signature file, such as signs.ini")->required();
    signs->add_flag("--json", options->json, "Print one JSON object per line instead of text");
    signs->footer(kSignsFooter);
    return signs;
}

CLI::App* AddJoin(CLI::App& app, Options* options) {
    CLI::App* join =
        app.add_subcommand("join", "Put the JSON lines of the parts of a scan together");
    join->add_option("PART", options->files,
                     "JSON lines of hound scan --json --range or --part, in any order ('-': stdin)")
        ->required();
    join->add_option("--dfxml", options->dfxml, "Also write the DFXML report of the joined items")
        ->type_name("FILE");
    join->add_option("--out", options->out,
                     "The parts' output folder: write DIR/audit.txt of the joined items")
        ->type_name("DIR");
    join->footer("Prints the JSON lines of one whole scan: each part's items from where the scan of "
                 "the part before it meets its own; the extracted files of the items left out are "
                 "removed. Exit codes: 0 joined; 1 parts missing, overlapping or unreadable.");
    return join;
}

// A word after "scan" (and before "--") that CLI11 takes for a short option
// hound does not have: most likely a file whose name begins with '-'. ""
// when there is none.
std::string DashFileName(const CLI::App& scan, int argc, const char* const* argv) {
    bool in_scan = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!in_scan) {
            in_scan = word == "scan";
            continue;
        }
        if (word == "--") return "";
        if (word.size() < 2 || word[0] != '-' || word[1] == '-') continue;
        if (word.size() == 2 && scan.get_option_no_throw(word) != nullptr) continue;
        return word;
    }
    return "";
}

// What the options of a scan say together, once each has been read.
std::string ScanProblem(const Options& options) {
    if (options.part.given && options.files.size() != 1) return "--range and --part take one FILE";
    if (options.min_size > options.max_size) return "--min-size is larger than --max-size";
    return "";
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, Options* options, std::ostream& out,
                     std::ostream& err) {
    CLI::App app(Description(), "hound");
    app.set_version_flag("--version", std::string("hound ") + kHoundVersion);
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("hound: ") + e.what() + " (see hound --help)\n";
    });
    ScanTexts texts;
    CLI::App* scan = AddScan(app, options, &texts);
    CLI::App* signs = AddSigns(app, options);
    CLI::App* join = AddJoin(app, options);
    app.footer([scan, signs, join] {
        return "\n" + scan->help("hound") + "\n" + signs->help("hound") + "\n" + join->help("hound");
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ValidationError& e) {
        // A value that hound's own check refused: its line as it stands.
        err << "hound: " << e.what() << '\n';
        return kExitUsage;
    } catch (const CLI::ParseError& e) {
        const std::string dash = DashFileName(*scan, argc, argv);
        if (!dash.empty() && (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr ||
                              dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr)) {
            err << "hound: " << Quoted(dash) << " is not an option of hound scan; to scan a file of that name, give "
                << Quoted("./" + dash) << " or put -- in front of the file names\n";
            return kExitUsage;
        }
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }
    if (signs->parsed()) {
        options->command = Command::kSigns;
        return -1;
    }
    for (int i = 0; i < argc; ++i) {
        if (i > 0) options->command_line += ' ';
        options->command_line += i == 0 ? std::string("hound") : ShellWord(argv[i]);
    }
    if (join->parsed()) {
        options->command = Command::kJoin;
        return -1;
    }
    options->command = Command::kScan;
    // CLI11 checks only the values given; the defaults are read here.
    std::string unused;
    if (scan->count("--order") == 0) ParseOrder(texts.order, &options->order, &unused);
    if (scan->count("--hash") == 0) ParseHashList(texts.hashes, &options->hashes, &unused);
    const std::string problem = ScanProblem(*options);
    if (!problem.empty()) {
        err << "hound: " << problem << '\n';
        return kExitUsage;
    }
    return -1;
}
