// "hound signs": the report as text or JSON lines.
#include "host/signs/signs_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/base/names.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string PlaceText(const SignsPlace& place) {
    std::string text = Printable(place.file);
    if (!place.section.empty()) text += " [" + Printable(place.section) + "]";
    return text;
}

void WriteSignature(std::ostream& out, size_t index, size_t count,
                    const SignsSignature& signature) {
    const std::string number = std::to_string(index);
    out << std::string(std::to_string(count).size() - number.size() + 2, ' ') << number << ". "
        << (signature.bounded ? "bounded" : "sized") << "  " << Quoted(signature.name) << "  ext "
        << (signature.ext.empty() ? std::string("(none)") : Printable(signature.ext)) << '\n';
    if (signature.bounded) {
        out << "       start    " << signature.pattern << '\n';
        out << "       end      "
            << (signature.end_pattern.empty()
                    ? std::string("(none: the start pattern ends the item too)")
                    : signature.end_pattern)
            << '\n';
        out << "       numbers  limit " << signature.limit_size
            << (signature.limit_size == 0 ? " (none)" : "") << ", start offset "
            << signature.start_offset << ", end offset " << signature.end_offset << '\n';
    } else {
        out << "       header   " << signature.pattern << '\n';
        out << "       size     field at offset " << signature.size_offset << ", width "
            << signature.size_width << ", addon " << signature.size_addon << '\n';
    }
    out << "       from     " << PlaceText(signature.from) << '\n';
    if (!signature.created_in.file.empty()) {
        out << "       created  " << PlaceText(signature.created_in) << '\n';
    }
}

void WriteFindings(std::ostream& out, const char* title,
                   const std::vector<SignsFinding>& findings) {
    if (findings.empty()) return;
    out << title << ":\n";
    for (const SignsFinding& finding : findings) {
        out << "  " << PlaceText(finding.where) << ": " << Printable(finding.message) << '\n';
    }
}

Json PlaceJson(const SignsPlace& place) {
    Json json;
    json["file"] = place.file;
    json["section"] = place.section;
    return json;
}

Json FindingJson(const char* type, const SignsFinding& finding) {
    Json json;
    json["type"] = type;
    json["file"] = finding.where.file;
    json["section"] = finding.where.section;
    json["reason"] = SignsReasonName(finding.reason);
    if (!finding.key.empty()) json["key"] = finding.key;
    if (!finding.token.empty()) json["token"] = finding.token;
    if (finding.reason == SignsReason::kSizeWidth) json["size_width"] = finding.number;
    if (finding.reason == SignsReason::kNamesCut) json["sections_not_read"] = finding.number;
    if (!finding.paths.empty()) json["paths"] = finding.paths;
    if (finding.outcome != SignsOutcome::kNone) {
        json["outcome"] = SignsOutcomeName(finding.outcome);
        json["outcome_section"] = PlaceJson(finding.outcome_place);
    }
    json["message"] = finding.message;
    return json;
}

void Line(std::ostream& out, const Json& json) {
    out << json.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

std::string Summary(const SignsReport& report) {
    return Count(report.signatures.size(), "signature", "signatures") + " from " +
           Count(report.files.size(), "file", "files") + "; " +
           Count(report.passed_over.size(), "section", "sections") + " passed over; " +
           Count(report.warnings.size(), "warning", "warnings");
}

// The absolute form of a native path, without "." components.
std::string Absolute(const std::string& path) {
    std::error_code failure;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
    if (failure) return path;
    std::filesystem::path cleaned;
    for (const auto& part : absolute) {
        if (part != ".") cleaned /= part;
    }
    return cleaned.string();
}

// Why path cannot be read as a signature file, or "".
std::string Unreadable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    struct stat status;
    const bool statted = fstat(fd, &status) == 0;
    const int failure = errno;
    close(fd);
    if (!statted) return std::strerror(failure);
    if (S_ISDIR(status.st_mode)) return "it is a folder";
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    return "";
}

}  // namespace

void WriteSignsText(std::ostream& out, const SignsReport& report) {
    out << "signature file " << Quoted(report.file) << '\n';
    out << "files read:\n";
    for (const SignsFile& file : report.files) {
        out << std::string(2 + 2 * file.depth, ' ') << Printable(file.path);
        if (file.depth > 0)
            out << "  (included by [" << Printable(file.included_by.section) << "])";
        out << '\n';
    }
    if (!report.signatures.empty()) out << "signatures, in the order " << report.reader << " asks them:\n";
    for (size_t i = 0; i < report.signatures.size(); ++i)
        WriteSignature(out, i + 1, report.signatures.size(), report.signatures[i]);
    WriteFindings(out, "sections passed over", report.passed_over);
    WriteFindings(out, "warnings", report.warnings);
    out << Summary(report) << '\n';
}

void WriteSignsJson(std::ostream& out, const SignsReport& report) {
    for (const SignsFile& file : report.files) {
        Json json;
        json["type"] = "file";
        json["file"] = file.path;
        json["depth"] = file.depth;
        if (file.depth > 0) json["included_by"] = PlaceJson(file.included_by);
        Line(out, json);
    }
    for (size_t i = 0; i < report.signatures.size(); ++i) {
        const SignsSignature& signature = report.signatures[i];
        Json json;
        json["type"] = "signature";
        json["index"] = i + 1;
        json["kind"] = signature.bounded ? "bounded" : "sized";
        json["name"] = signature.name;
        json["ext"] = signature.ext;
        json["pattern"] = signature.pattern;
        if (signature.bounded) {
            json["end_pattern"] = signature.end_pattern;
            json["limit_size"] = signature.limit_size;
            json["start_offset"] = signature.start_offset;
            json["end_offset"] = signature.end_offset;
        } else {
            json["size_offset"] = signature.size_offset;
            json["size_width"] = signature.size_width;
            json["size_addon"] = signature.size_addon;
        }
        json["file"] = signature.from.file;
        json["section"] = signature.from.section;
        if (!signature.created_in.file.empty())
            json["created_in"] = PlaceJson(signature.created_in);
        Line(out, json);
    }
    for (const SignsFinding& finding : report.passed_over)
        Line(out, FindingJson("passed_over", finding));
    for (const SignsFinding& finding : report.warnings) Line(out, FindingJson("warning", finding));
    Json summary;
    summary["type"] = "summary";
    summary["file"] = report.file;
    summary["signatures"] = report.signatures.size();
    summary["files"] = report.files.size();
    summary["passed_over"] = report.passed_over.size();
    summary["warnings"] = report.warnings.size();
    Line(out, summary);
}

int RunSigns(const std::string& path, const std::string& reader, bool json, std::ostream& out,
             std::ostream& err) {
    const std::string absolute = Absolute(path);
    std::string reason = Unreadable(absolute);
    SignsReport report;
    report.reader = reader;
    if (reason.empty() && ExplainSignatureFile(absolute, &report, &reason) && report.missing) {
        reason = "the loader does not find it";
    }
    if (!reason.empty()) {
        err << "hound: cannot read " << Quoted(path) << ": " << reason << '\n';
        return kSignsUnreadable;
    }
    if (json) {
        WriteSignsJson(out, report);
    } else {
        WriteSignsText(out, report);
    }
    out << std::flush;
    if (!out.good()) {
        // No report came out: the same code as a file that cannot be read.
        err << "hound: cannot write the standard output: " << (errno != 0 ? std::strerror(errno) : "write failed")
            << '\n';
        return kSignsUnreadable;
    }
    return report.signatures.empty() ? kSignsNone : kSignsSome;
}

std::vector<std::string> SignsScanProblems(const std::string& path, const std::string& reader) {
    const std::string absolute = Absolute(path);
    std::string reason = Unreadable(absolute);
    SignsReport report;
    report.reader = reader;
    if (reason.empty() && ExplainSignatureFile(absolute, &report, &reason) && report.missing) {
        reason = "the loader does not find it";
    }
    if (!reason.empty()) return {"cannot read " + Quoted(absolute) + ": " + reason};
    std::vector<std::string> lines;
    for (const auto* findings : {&report.passed_over, &report.warnings}) {
        for (const SignsFinding& finding : *findings) {
            if (!SignsToldDuringScan(finding)) continue;
            lines.push_back(PlaceText(finding.where) + ": " + Printable(finding.message));
        }
    }
    return lines;
}
