// Text rows: where open text ends (zeros, bad UTF-8, the data end), the
// closing constructs of XML, HTML, JSON, RTF and PostScript, mail headers.
#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

const std::string kScript = "#!/bin/sh\necho \"caf\xC3\xA9 \xF0\x9F\x98\x80\"\nexit 0\n";
const std::string kXml = "<?xml version=\"1.0\"?>\n<!-- first -->\n<a x='1'><b>t</b><c/><![CDATA[</a>]]></a>";
const std::string kJson = "{\"name\": \"x\\u00e9\\n\", \"list\": [1, -2.5e3, true, false, null, {}]}";
const std::string kMessage =
    "Received: from a.example.org\r\n\tby b.example.org\r\nFrom: a@example.org\r\nTo: b@example.org\r\n"
    "Subject: hi\r\n\r\nHello.\r\n";

// A JSON array of levels nested levels, the innermost an object.
std::string Nested(int levels) {
    return "[\n  " + std::string(levels - 2, '[') + "{\"k\": 1}" + std::string(levels - 1, ']') + "\n";
}

Bytes Zeros() { return Bytes(16, 0); }

}  // namespace

std::vector<Case> TextCases() {
    const Bytes script = Text(kScript);
    const Bytes xml = Text(kXml + "\n<!-- last -->\r\n");
    const Bytes json = Text(kJson + "\n");
    const Bytes rtf = Cat({Text("{\\rtf1{\\*\\data\\bin6 "), {'}', '{', 0, 0xFF, '\\', '}'},
                           Text("}\\{not a group\\} \\\\ {\\b bold}\\par}\r\n")});
    const Bytes ps = Text("%!PS-Adobe-3.0\n%%BeginDocument: a.eps\n%!PS-Adobe-3.0 EPSF-3.0\n%%EOF\n"
                          "%%EndDocument\nshowpage\n%%EOF\r\n");
    const Bytes mbox = Text("From a@example.org Thu Jan  1 00:00:00 1970\nFrom: a@example.org\nTo: b@example.org\n"
                            "\nHello.\n\nFrom a@example.org Fri Jan  2 00:00:00 1970\nTo: c@example.org\n\nAgain.\n");
    const Bytes perl = Text("#!/usr/bin/env -S LC_ALL=C perl5.36 -w\nprint 1;\n");
    const Bytes tool = Text("#! /opt/tool/run --fast\nstep one\nstep two\n");
    const Bytes doctype = Text("<!DOCTYPE r [<!-- ']> --><!ENTITY e \"]>\">]>\n<r>&e;</r>\n");
    const Bytes svg = Text("<svg width=\"1\"><g/></svg>\n");
    const Bytes html = Text("<!DOCTYPE html>\n<html><body><p>x</p></body></HTML >\r\n");
    return {
        // Open text ends at the first byte that is no text.
        {"script then zeros", Cat({script, Zeros()}), script.size(), "sh"},
        {"script then an overlong slash", Cat({script, {0xC0, 0xAF}, Text("x\n")}), script.size(), "sh"},
        {"script then a surrogate", Cat({script, {0xED, 0xA0, 0x80}, Text("x\n")}), script.size(), "sh"},
        {"script then past U+10FFFF", Cat({script, {0xF4, 0x90, 0x80, 0x80}}), script.size(), "sh"},
        {"script then a cut sequence", Cat({script, {0xE2, 0x82}}), script.size(), "sh"},
        {"script then a control byte", Cat({script, {0x01}, Text("more text\n")}), script.size(), "sh"},
        {"script too short", Text("#!/bin/sh\nls\n"), 0, ""},
        {"script through env with options", perl, perl.size(), "pl"},
        {"script of an unknown interpreter", tool, tool.size(), "txt"},
        {"script without a name", Text("#!/bin/\necho nothing here at all\n"), 0, ""},
        // XML: the root's end tag, then comments and a line end.
        {"XML with a comment after the root", Cat({xml, Text("junk")}), xml.size(), "xml"},
        {"XML then the next file", Text(kXml + "\n<?xml version=\"1.0\"?><b/>"), kXml.size() + 1, "xml"},
        {"XML root closed by another name", Text("<?xml version=\"1.0\"?>\n<a><b></b></c>\n"), 0, ""},
        {"XML cut short", Text(kXml.substr(0, kXml.size() - 2)), 0, ""},
        {"XML attribute unquoted", Text("<?xml version=\"1.0\"?>\n<a x=1></a>\n"), 0, ""},
        {"XML then zeros", Cat({Text(kXml), Zeros()}), kXml.size(), "xml"},
        {"XML with a byte order mark", Text("\xEF\xBB\xBF" + kXml), kXml.size() + 3, "xml"},
        {"SVG without declaration", Cat({svg, Text("<svg")}), svg.size(), "svg"},
        // Its end must not depend on whether the bytes behind it fill the opening's read.
        {"XML shorter than the opening read", Cat({Text("<svg........--/>"), Bytes(24, 0xE0)}), 0, ""},
        {"XML by its document type", doctype, doctype.size(), "xml"},
        // HTML: to "</html>" in any case.
        {"HTML", Cat({html, Zeros()}), html.size(), "html"},
        {"HTML never closed", Text("<html>\n<body>text</body>\n"), 0, ""},
        // JSON: parsed whole; the top level closes it.
        {"JSON then garbage", Cat({json, Text("]garbage")}), json.size(), "json"},
        {"JSON compact", Text(kJson), kJson.size(), "json"},
        {"JSON nested to the bound", Text(Nested(256)), Nested(256).size(), "json"},
        {"JSON nested past the bound", Text(Nested(257)), 0, ""},
        {"JSON bad escape", Text("{\"name\": \"\\x\", \"list\": [1, 2, 3, 4, 5, 6, 7]}"), 0, ""},
        {"JSON leading zero", Text("{\"name\": \"x\", \"list\": [01, 2, 3, 4, 5, 6, 7]}"), 0, ""},
        {"JSON raw newline in a string", Text("{\"name\": \"a\nb\", \"list\": [1, 2, 3, 4, 5, 6]}"), 0, ""},
        {"JSON without members", Text("[\n  [], [], [], [], [], [], [], [], [], []\n]\n"), 0, ""},
        {"JSON too short", Text("{\"a\": [1, 2]}\n"), 0, ""},
        {"JSON cut short", Text(kJson.substr(0, kJson.size() - 1)), 0, ""},
        // RTF: braces balance, past \bin data and escaped braces.
        {"RTF with binary data", Cat({rtf, Zeros()}), rtf.size(), "rtf"},
        {"RTF unbalanced", Bytes(rtf.begin(), rtf.end() - 3), 0, ""},
        {"RTF binary data past the end", Text("{\\rtf1\\bin999 abc}"), 0, ""},
        // PostScript: the top level's %%EOF, else the end of text.
        {"PostScript around a document", Cat({ps, Text("more")}), ps.size(), "ps"},
        {"EPS without %%EOF", Text("%!PS-Adobe-3.0 EPSF-3.0\n0 0 moveto\n\x04"), 35, "eps"},
        // Mail: headers with known fields, then the body to the end of text.
        {"mailbox", Cat({mbox, Zeros()}), mbox.size(), "mbox"},
        {"mailbox line without a date", Text("From someone and something\nFrom: a@b\nTo: c@d\n\nHello.\n"), 0, ""},
        {"message", Cat({Text(kMessage), Zeros()}), kMessage.size(), "eml"},
        {"message of two known fields",
         Text("From: a@example.org\nX-Note: x\nSubject: hi\n\nHello there.\n"), 0, ""},
        {"message header without a colon", Text("From: a@example.org\nTo b@example.org\nSubject: hi\n\nHello.\n"),
         0, ""},
        {"message headers never end", Text("Date: today\nFrom: a@example.org\nTo: b@example.org\n"), 0, ""},
    };
}

}  // namespace formathound_test
