// ar rows: GNU name tables and BSD names, odd members and their pad, the
// end where no header follows, Debian packages, damaged headers.
#include <cstdio>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A member: the 60-byte header with its name field as given, then the data
// and its '\n' pad when odd.
Bytes Member(const std::string& name, const Bytes& data, const char* mtime = "1700000000") {
    char header[61];
    std::snprintf(header, sizeof(header), "%-16s%-12s%-6s%-6s%-8s%-10u`\n", name.c_str(), mtime, "0", "0", "100644",
                  static_cast<unsigned>(data.size()));
    Bytes member = Cat({Text(header), data});
    if (data.size() % 2 == 1) member.push_back('\n');
    return member;
}

const Bytes kMagic = Text("!<arch>\n");

}  // namespace

std::vector<Case> ArCases() {
    const Bytes names = Text("a_name_longer_than_sixteen.o/\n");
    const Bytes start = Cat({kMagic, Member("//", names), Member("/0", Text("odd"))});
    const Bytes bsd = Member("#1/12", Text("bsd_name.txtdata"));
    const Bytes archive = Cat({start, bsd, Member("short.o/", Text("x"))});
    const Bytes deb = Cat({kMagic, Member("debian-binary", Text("2.0\n")), Member("control.tar.gz", Text("ctl")),
                           Member("data.tar.xz", Text("payload"))});
    const Bytes not_deb = Cat({kMagic, Member("debian-binary", Text("2.0\n")), Member("other", Text("ctl")),
                               Member("data.tar.xz", Text("payload"))});
    Bytes bad_pad = archive;
    bad_pad.back() = ' ';
    return {
        {"ar with name tables", Cat({archive, Text("after the last member, not a header")}), archive.size(), "a"},
        {"ar Debian package", Cat({deb, Bytes(70, 0)}), deb.size(), "deb"},
        {"ar Debian-like, control second missing", not_deb, not_deb.size(), "a"},
        {"ar pad not a newline", bad_pad, 0, ""},
        {"ar damaged header", Cat({kMagic, Member("a.o/", Text("xy")), Member("b.o/", Text("zw"), "17000x0000")}), 0,
         ""},
        {"ar cut in the data", Cat({start, Bytes(bsd.begin(), bsd.begin() + 70)}), 0, ""},
        {"ar without members", Cat({kMagic, Bytes(100, 0)}), 0, ""},
    };
}

}  // namespace formathound_test
