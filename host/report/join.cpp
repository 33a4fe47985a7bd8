// hound join: parts of one scan put together by where their scans meet.
//
// Part k reports the items of its own scan from its begin, then the items
// that this scan finds behind its end until it meets the scan of part k+1
// (next_part_from). A part's scan is the whole scan's from the first
// position at which both ask, so: going through the parts in order, with
// reach the furthest next_part_from so far, the whole scan's items are each
// part's items at or behind reach.
#include "host/report/join.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "host/options.h"
#include "host/report/names.h"

namespace {

using Json = nlohmann::ordered_json;

struct Part {
    uint64_t begin = 0, end = 0, next_part_from = 0, file_size = 0;
    std::vector<Json> items;
};

struct Input {
    std::vector<Part> parts;
    std::vector<Json> pending;  // items not yet closed by their part line
};

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

void Join(const std::vector<Part>& parts, std::ostream& out) {
    uint64_t reach = 0;
    std::set<std::string> kept, dropped;
    for (const Part& part : parts) {
        for (Json item : part.items) {
            const std::string extracted = item.value("extracted", std::string());
            if (item["offset"].get<uint64_t>() < reach) {
                // The whole scan was inside an earlier item here; or it asks
                // here too, and an earlier part reported the same item.
                if (!extracted.empty()) dropped.insert(extracted);
                continue;
            }
            if (!extracted.empty()) kept.insert(extracted);
            item.erase("after_range");
            out << Dump(item) << '\n';
        }
        reach = std::max(reach, part.next_part_from);
    }
    for (const std::string& path : dropped) {
        std::error_code ignored;
        if (kept.count(path) == 0) std::filesystem::remove(path, ignored);
    }
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
        const std::string file = line["file"];
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
        part.items = std::move(input.pending);
        input.pending.clear();
        input.parts.push_back(std::move(part));
    }
    return true;
}

}  // namespace

int RunJoin(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err) {
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
    int code = kExitOk;
    for (const std::string& name : order) {
        Input& input = inputs[name];
        std::sort(input.parts.begin(), input.parts.end(),
                  [](const Part& a, const Part& b) { return a.begin < b.begin; });
        std::string problem = input.pending.empty() ? "" : "items without the line that closes their part "
                                                           "(a part that did not finish?)";
        if (problem.empty()) problem = input.parts.empty() ? "no part line" : TilingProblem(input.parts);
        if (!problem.empty()) {
            err << "hound: " << Quoted(name) << ": " << problem << "; not joined\n";
            code = kExitErrors;
            continue;
        }
        Join(input.parts, out);
    }
    out << std::flush;
    return code;
}
