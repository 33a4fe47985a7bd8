// The gallery page and its item files.
#include "host/report/gallery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "host/base/names.h"
#include "host/report/extract.h"
#include "host/report/output.h"

namespace {

// Items per item file: the file being filled is written again as it grows.
constexpr size_t kRecordsPerFile = 500;

constexpr const char* kPrefix = "items-";

// A relative URL of a name below the --out folder: every byte but letters,
// digits, "-._~/" percent-encoded, so that any file name, in any bytes,
// is a path and nothing else.
std::string Href(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string href;
    for (const unsigned char c : name) {
        if (std::isalnum(c) != 0 && c < 0x80) {
            href += static_cast<char>(c);
        } else if (c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            href += static_cast<char>(c);
        } else {
            href += '%';
            href += kHex[c >> 4];
            href += kHex[c & 15];
        }
    }
    return href;
}

// The page's own code. The item files come between kPageHead and kPageTail.
constexpr const char* kPageHead = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>hound: recovered items</title>
<style>
body { font: 14px system-ui, sans-serif; margin: 0; background: #f4f4f2; color: #222; }
header { position: sticky; top: 0; background: #fff; border-bottom: 1px solid #ccc; padding: 8px 16px; z-index: 1; }
h1 { font-size: 18px; margin: 0 0 6px; }
nav { margin: 3px 0; }
nav span { color: #666; margin-right: 4px; }
nav a { display: inline-block; margin: 0 6px 3px 0; padding: 2px 8px; border: 1px solid #bbb; border-radius: 10px;
        color: #124; text-decoration: none; background: #fafafa; }
nav a.on { background: #124; color: #fff; border-color: #124; }
main { display: grid; grid-template-columns: repeat(auto-fill, minmax(190px, 1fr)); gap: 12px; padding: 16px; }
.item { background: #fff; border: 1px solid #ddd; border-radius: 6px; padding: 8px; overflow-wrap: anywhere; }
.view { height: 160px; display: flex; align-items: center; justify-content: center; background: #eee; border-radius: 4px; }
.view img { max-width: 100%; max-height: 160px; }
.view video, .view audio { max-width: 100%; max-height: 160px; }
.icon { font: bold 22px monospace; color: #667; text-transform: uppercase; }
.item p { margin: 3px 0; font-size: 12px; color: #444; }
.item a { font-weight: 600; color: #124; }
.bad { color: #a30; }
#pages { padding: 0 16px 16px; }
</style>
</head>
<body>
<header>
<h1 id="title">hound: recovered items</h1>
<nav id="types"></nav>
<nav id="checks"></nav>
<nav id="sorts"></nav>
<p id="shown"></p>
</header>
<main id="items"></main>
<nav id="pages"></nav>
<script>
"use strict";
var hound = { items: [], add: function (list) { Array.prototype.push.apply(this.items, list); } };
</script>
)PAGE";

constexpr const char* kPageTail = R"PAGE(<script>
"use strict";
(function () {
  var perPage = 200;
  var players = { mp4: "video", m4v: "video", mov: "video", webm: "video", ogv: "video", mkv: "video",
                  mp3: "audio", wav: "audio", ogg: "audio", oga: "audio", opus: "audio", flac: "audio",
                  m4a: "audio", aac: "audio" };
  var digests = ["sha256", "sha1", "md5", "sha512"];
  var items = hound.items;

  function checkOf(item) {
    if (!item.check) return "not checked";
    if (item.check === "valid" && item.plugin_size !== undefined && item.plugin_size !== item.size) {
      return "size corrected";
    }
    return item.check;
  }
  // The view's state lives in the address: #type=jpg&check=valid&sort=size&page=2.
  function state() {
    var s = { type: "", check: "", sort: "offset", page: 1 };
    location.hash.replace(/^#/, "").split("&").forEach(function (pair) {
      var at = pair.indexOf("=");
      if (at < 0) return;
      var key = decodeURIComponent(pair.slice(0, at)), value = decodeURIComponent(pair.slice(at + 1));
      if (key === "type" || key === "check" || key === "sort") s[key] = value;
      if (key === "page") s.page = Math.max(1, parseInt(value, 10) || 1);
    });
    return s;
  }
  function hash(s, change) {
    var next = Object.assign({}, s, change), parts = [];
    ["type", "check", "sort", "page"].forEach(function (key) {
      if (next[key] !== "" && !(key === "page" && next[key] === 1) && !(key === "sort" && next[key] === "offset")) {
        parts.push(key + "=" + encodeURIComponent(next[key]));
      }
    });
    return "#" + parts.join("&");
  }
  function element(tag, text, cls) {
    var e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    if (cls) e.className = cls;
    return e;
  }
  function chip(nav, label, count, href, on, data) {
    var a = element("a", count === undefined ? label : label + " (" + count + ")", on ? "on" : "");
    a.href = href;
    Object.keys(data).forEach(function (key) { a.dataset[key] = data[key]; });
    nav.appendChild(a);
  }
  function tally(list, key) {
    var counts = {};
    list.forEach(function (item) { var k = key(item); counts[k] = (counts[k] || 0) + 1; });
    return counts;
  }
  function view(item) {
    var box = element("div", undefined, "view");
    if (item.thumb) {
      var img = element("img");
      img.loading = "lazy";
      img.alt = item.ext;
      img.addEventListener("load", function () { img.dataset.loaded = "yes"; });
      img.addEventListener("error", function () { img.dataset.loaded = "no"; });
      img.src = item.thumb;
      box.appendChild(img);
    } else if (item.href && players[item.ext]) {
      var player = element(players[item.ext]);
      player.controls = true;
      player.preload = "none";
      player.src = item.href;
      box.appendChild(player);
    } else {
      box.appendChild(element("span", item.ext || "?", "icon"));
    }
    return box;
  }
  function card(item) {
    var div = element("div", undefined, "item");
    div.dataset.type = item.ext;
    div.appendChild(view(item));
    var name = element("p");
    if (item.href) {
      var link = element("a", item.name);
      link.href = item.href;
      name.appendChild(link);
    } else {
      name.textContent = "not extracted" + (item.not_extracted ? ": " + item.not_extracted : "");
      name.className = "bad";
    }
    div.appendChild(name);
    div.appendChild(element("p", item.description));
    div.appendChild(element("p", "offset " + item.offset_hex + " (" + item.offset + ")"));
    div.appendChild(element("p", item.size + " bytes" + (item.truncated ? ", truncated: " + item.size_in_file +
                                                          " in the input" : ""), item.truncated ? "bad" : ""));
    div.appendChild(element("p", checkOf(item) + ", " + item.plugin));
    digests.some(function (type) {
      if (!item[type]) return false;
      div.appendChild(element("p", type + " " + item[type].slice(0, 16) + "\u2026"));
      return true;
    });
    div.appendChild(element("p", "from " + item.file));
    return div;
  }
  function render() {
    var s = state();
    var types = tally(items, function (item) { return item.ext; });
    var nav = document.getElementById("types");
    nav.textContent = "";
    nav.appendChild(element("span", "type"));
    chip(nav, "all", items.length, hash(s, { type: "", page: 1 }), s.type === "", { type: "", count: items.length });
    Object.keys(types).sort().forEach(function (type) {
      chip(nav, type, types[type], hash(s, { type: type, page: 1 }), s.type === type, { type: type, count: types[type] });
    });
    var ofType = items.filter(function (item) { return s.type === "" || item.ext === s.type; });
    var checks = tally(ofType, checkOf);
    nav = document.getElementById("checks");
    nav.textContent = "";
    nav.appendChild(element("span", "check"));
    chip(nav, "all", ofType.length, hash(s, { check: "", page: 1 }), s.check === "", { check: "" });
    Object.keys(checks).sort().forEach(function (check) {
      chip(nav, check, checks[check], hash(s, { check: check, page: 1 }), s.check === check, { check: check });
    });
    nav = document.getElementById("sorts");
    nav.textContent = "";
    nav.appendChild(element("span", "sort by"));
    ["offset", "size"].forEach(function (sort) {
      chip(nav, sort, undefined, hash(s, { sort: sort, page: 1 }), s.sort === sort, { sort: sort });
    });
    var shown = ofType.filter(function (item) { return s.check === "" || checkOf(item) === s.check; });
    shown.sort(s.sort === "size" ? function (a, b) { return b.size - a.size; }
                                 : function (a, b) { return a.file < b.file ? -1 : a.file > b.file ? 1 : a.offset - b.offset; });
    var pages = Math.max(1, Math.ceil(shown.length / perPage)), page = Math.min(s.page, pages);
    var main = document.getElementById("items");
    main.textContent = "";
    shown.slice((page - 1) * perPage, page * perPage).forEach(function (item) { main.appendChild(card(item)); });
    var line = document.getElementById("shown");
    line.textContent = shown.length + " of " + items.length + " items" + (pages > 1 ? ", page " + page + " of " + pages : "");
    line.dataset.count = shown.length;
    nav = document.getElementById("pages");
    nav.textContent = "";
    if (pages > 1) {
      if (page > 1) chip(nav, "previous", undefined, hash(s, { page: page - 1 }), false, {});
      if (page < pages) chip(nav, "next", undefined, hash(s, { page: page + 1 }), false, {});
    }
    document.getElementById("title").textContent = "hound: " + items.length + " recovered items";
  }
  window.addEventListener("hashchange", render);
  render();
})();
</script>
</body>
</html>
)PAGE";

bool IsFolder(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The item files in the gallery folder, in name order.
std::vector<std::string> ItemFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kPrefix, 0) == 0 && name.size() > 3 && name.compare(name.size() - 3, 3, ".js") == 0) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::string ThumbnailName(const std::string& name) { return std::string(kGalleryFolder) + "/thumbs/" + name + ".jpg"; }

std::string GalleryRecord(const FileReport& file, const ReportedItem& reported, const std::string& plugin,
                          bool thumbnail) {
    // The item's JSON object, with links below the --out folder in place
    // of the extracted file's path.
    nlohmann::ordered_json record = JsonItem(file, reported, plugin, "");
    record.erase("extracted");
    record.erase("extracted_bytes");
    if (reported.written) {
        const size_t slash = reported.name.find_last_of('/');
        record["name"] = ValidUtf8(slash == std::string::npos ? reported.name : reported.name.substr(slash + 1));
        record["href"] = Href(reported.name);
        if (thumbnail) record["thumb"] = Href(ThumbnailName(reported.name));
    }
    // ASCII only, so that no line or paragraph separator ends a string in the script.
    return record.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

std::string Gallery::Open(const std::string& dir, const std::string& stem) {
    const std::string folder = dir + "/" + kGalleryFolder;
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        return "cannot create " + Quoted(folder) + ": " + std::strerror(errno);
    }
    if (!IsFolder(folder)) return "cannot write the gallery into " + Quoted(folder) + ": it is not a folder";
    dir_ = dir;
    stem_ = stem;
    RemoveFiles(stem + "-");
    return "";
}

void Gallery::RemoveFiles(const std::string& prefix) {
    const std::string folder = dir_ + "/" + kGalleryFolder;
    for (const std::string& name : ItemFiles(folder)) {
        if (name.rfind(std::string(kPrefix) + prefix, 0) == 0) unlink((folder + "/" + name).c_str());
    }
    dirty_ = true;
}

void Gallery::Add(std::string record) {
    if (failed_) return;
    records_.push_back(std::move(record));
    dirty_ = true;
}

std::string Gallery::Flush(bool now) {
    if (!is_open() || failed_ || !dirty_) return "";
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - written_ < std::chrono::seconds(1) && records_.size() < kRecordsPerFile) return "";
    std::string error = WriteChunk();
    if (error.empty()) error = WritePage();
    if (!error.empty()) {
        // One line whichever of its files failed; their names change from run to run.
        error = "cannot write the gallery page in " + Quoted(dir_) + ": " + std::strerror(errno);
    }
    failed_ = !error.empty();
    dirty_ = false;
    written_ = time;
    return error;
}

std::string Gallery::WriteChunk() {
    if (records_.empty()) return "";
    char number[16];
    std::snprintf(number, sizeof number, "%06zu", chunk_);
    std::string text = "hound.add([\n";
    for (size_t i = 0; i < records_.size(); ++i) text += records_[i] + (i + 1 < records_.size() ? ",\n" : "\n");
    text += "]);\n";
    std::string error;
    const std::string path = dir_ + "/" + kGalleryFolder + "/" + kPrefix + stem_ + "-" + number + ".js";
    if (!WriteFileAtomically(path, text.data(), text.size(), &error)) return error;
    if (records_.size() >= kRecordsPerFile) {
        records_.clear();
        ++chunk_;
    }
    return "";
}

std::string Gallery::WritePage() {
    std::string page = kPageHead;
    for (const std::string& name : ItemFiles(dir_ + "/" + kGalleryFolder)) {
        page += "<script src=\"" + Href(std::string(kGalleryFolder) + "/" + name) + "\"></script>\n";
    }
    page += kPageTail;
    std::string error;
    const std::string path = dir_ + "/index.html";
    return WriteFileAtomically(path, page.data(), page.size(), &error) ? "" : error;
}
