// formathound's walks on bytes built by hand: the rules that tool-made files
// do not reach (64-bit sizes, boxes missing or out of place, hostile sizes).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formathound/detect.h"
#include "tests/fakes/fake_reader.h"
#include "tests/formathound/cases.h"

namespace {

using namespace formathound_test;

// A box of that type around body, with a 32-bit size.
Bytes Box(const std::string &type, const Bytes &body) {
  return Cat({Be32(static_cast<uint32_t>(8 + body.size())), Text(type), body});
}

// The same with size 1 and a 64-bit size behind the type.
Bytes LargeBox(const std::string &type, const Bytes &body) {
  return Cat({Be32(1), Text(type), Be32(0),
              Be32(static_cast<uint32_t>(16 + body.size())), body});
}

Bytes Ftyp(const std::string &brand) {
  return Box("ftyp", Cat({Text(brand), Be32(0), Text("isom")}));
}
Bytes Moov() { return Box("moov", Box("mvhd", Bytes(100, 0))); }
Bytes Mdat() { return Box("mdat", Bytes(300, 0x55)); }

// An Ogg page holding one packet of under 255 bytes, with its CRC-32.
Bytes OggPage(uint8_t flags, uint32_t serial, uint32_t sequence,
              const Bytes &packet) {
  Bytes page = Cat({Text("OggS"),
                    {0, flags},
                    Bytes(8, 0),
                    Le32(serial),
                    Le32(sequence),
                    Le32(0),
                    {1, static_cast<uint8_t>(packet.size())},
                    packet});
  uint32_t crc = 0;
  for (const uint8_t byte : page) {
    crc ^= uint32_t{byte} << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
  }
  const Bytes field = Le32(crc);
  std::copy(field.begin(), field.end(), page.begin() + 22);
  return page;
}

// An EBML element: its ID bytes, a one-byte size (under 127) and its body.
Bytes Ebml(const Bytes &id, const Bytes &body) {
  return Cat({id, {static_cast<uint8_t>(0x80 | body.size())}, body});
}
// The same with a size of eight bytes, all value bits set: unknown size.
Bytes EbmlOpen(const Bytes &id, const Bytes &body) {
  return Cat({id, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, body});
}
Bytes EbmlHeader(const std::string &doc_type) {
  return Ebml(
      {0x1A, 0x45, 0xDF, 0xA3},
      Cat({Ebml({0x42, 0x86}, {1}), Ebml({0x42, 0x82}, Text(doc_type))}));
}
const Bytes kSegment = {0x18, 0x53, 0x80, 0x67},
            kInfo = {0x15, 0x49, 0xA9, 0x66},
            kTracks = {0x16, 0x54, 0xAE, 0x6B},
            kCluster = {0x1F, 0x43, 0xB6, 0x75};

// "fLaC" and a STREAMINFO of 192-sample blocks, mono, 16 bits, 44.1 kHz.
Bytes FlacStart(uint32_t total) {
  return Cat({Text("fLaC"),
              {0x80, 0, 0, 34, 0, 192, 0, 192},
              Bytes(6, 0),
              {0x0A, 0xC4, 0x40, 0xF0},
              Be32(total),
              Bytes(16, 0)});
}

// A frame of 192 samples numbered number: its subframes, its CRC-8 and CRC-16.
Bytes FlacFrame(uint8_t number, const Bytes &body) {
  Bytes frame = {0xFF, 0xF8, 0x19, 0x08, number};
  frame.push_back(static_cast<uint8_t>(Crc(frame, 8, 0x07)));
  frame.insert(frame.end(), body.begin(), body.end());
  const uint32_t crc = Crc(frame, 16, 0x8005);
  return Cat(
      {frame, {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)}});
}

std::vector<Case> IsoOggMatroskaFlacCases() {
  const Bytes mp4 = Cat({Ftyp("isom"), Moov(), Mdat()});
  const Bytes block = Ebml({0xA3}, Bytes(7, 0x42));
  const Bytes cluster = Ebml(kCluster, block);
  const Bytes children =
      Cat({Ebml(kInfo, Bytes(5, 0)), Ebml(kTracks, Bytes(6, 0)), cluster});
  const Bytes mkv = Cat({EbmlHeader("matroska"), Ebml(kSegment, children)});
  const Bytes open =
      Cat({EbmlHeader("matroska"), EbmlOpen(kSegment, children)});
  const Bytes flac_frames =
      Cat({FlacFrame(0, {0, 0, 3}), FlacFrame(1, {0, 0, 4})});
  Bytes flac_broken = flac_frames;
  flac_broken.back() ^= 1;
  const Bytes speex = Text("Speex   1.2"), theora = Text("\x80theora.");
  const Bytes ogg = Cat({OggPage(2, 7, 0, speex), OggPage(2, 8, 0, theora),
                         OggPage(0, 7, 1, speex), OggPage(4, 8, 1, theora),
                         OggPage(4, 7, 2, speex)});
  return {
      {"ftyp moov mdat", mp4, mp4.size(), "mp4"},
      {"then bytes of no box", Cat({mp4, Text("not a box at all")}), mp4.size(),
       "mp4"},
      {"64-bit mdat",
       Cat({Ftyp("M4A "), LargeBox("mdat", Bytes(50, 1)), Moov()}),
       20 + 66 + 116, "m4a"},
      {"QuickTime without ftyp", Cat({Box("wide", {}), Mdat(), Moov()}),
       8 + 308 + 116, "mov"},
      {"HEIF: ftyp meta mdat",
       Cat({Ftyp("heic"), Box("meta", Bytes(40, 0)), Mdat()}), 20 + 48 + 308,
       "heic"},
      {"brand names 3GP", Cat({Ftyp("3gp5"), Moov(), Mdat()}), mp4.size(),
       "3gp"},
      {"lone mdat", Mdat(), 0, ""},
      {"moov without data", Cat({Ftyp("isom"), Moov()}), 0, ""},
      {"moov without mvhd",
       Cat({Ftyp("isom"), Box("moov", Box("trak", Bytes(20, 0))), Mdat()}), 0,
       ""},
      {"mdat past the end",
       Cat({Ftyp("isom"), Moov(), Be32(1000), Text("mdat")}), 0, ""},
      {"mdat of size 0",
       Cat({Ftyp("isom"), Moov(), Be32(0), Text("mdat"), Bytes(20, 0)}), 0, ""},
      {"box size below its header", Cat({Ftyp("isom"), Be32(4), Text("moov")}),
       0, ""},
      {"ftyp not first", Cat({Box("free", {}), Ftyp("isom"), Moov(), Mdat()}),
       0, ""},
      {"then the next file's ftyp", Cat({mp4, Ftyp("M4A "), Moov(), Mdat()}),
       mp4.size(), "mp4"},
      {"ftyp of odd size", Cat({Box("ftyp", Bytes(9, 'a')), Moov(), Mdat()}), 0,
       ""},
      // Ogg: two streams interleaved, each to its end-of-stream page.
      {"Ogg two streams", ogg, ogg.size(), "ogv"},
      {"Ogg then a chained link", Cat({ogg, OggPage(2, 9, 0, speex)}),
       ogg.size(), "ogv"},
      {"Ogg page CRC broken",
       Cat({Bytes(ogg.begin(), ogg.end() - 1),
            {static_cast<uint8_t>(ogg.back() ^ 1)}}),
       0, ""},
      {"Ogg sequence gap",
       Cat({OggPage(2, 7, 0, speex), OggPage(4, 7, 2, speex)}), 0, ""},
      {"Ogg stream never ended",
       Cat({OggPage(2, 7, 0, speex), OggPage(2, 8, 0, theora),
            OggPage(4, 8, 1, theora)}),
       0, ""},
      {"Ogg page of another serial",
       Cat({OggPage(2, 7, 0, speex), OggPage(4, 5, 1, speex)}), 0, ""},
      // Matroska: Segments of known and of unknown size.
      {"Matroska", Cat({mkv, Text("after")}), mkv.size(), "mkv"},
      {"WebM", Cat({EbmlHeader("webm"), Ebml(kSegment, children)}),
       16 + 5 + children.size(), "webm"},
      {"Matroska Segment past the data", Bytes(mkv.begin(), mkv.end() - 1), 0,
       ""},
      {"Matroska Segment without Tracks",
       Cat({EbmlHeader("matroska"),
            Ebml(kSegment, Cat({Ebml(kInfo, Bytes(5, 0)), cluster}))}),
       0, ""},
      {"Matroska Segment of unknown size", Cat({open, Text("after")}),
       open.size(), "mkv"},
      {"Matroska Cluster of unknown size",
       Cat({EbmlHeader("matroska"),
            EbmlOpen(kSegment,
                     Cat({Ebml(kInfo, {}), Ebml(kTracks, {}),
                          EbmlOpen(kCluster, block), Ebml(kCluster, block)})),
            Text("after")}),
       20 + 12 + 5 + 5 + 12 + 9 + 5 + 9, "mkv"},
      {"Matroska of another DocType",
       Cat({EbmlHeader("matroskb"), Ebml(kSegment, children)}), 0, ""},
      // FLAC: frames to STREAMINFO's total, or to the last CRC-16 that holds.
      {"FLAC of known length",
       Cat({FlacStart(384), flac_frames, Text("after")}), 42 + 2 * 11, "flac"},
      {"FLAC short of its length",
       Cat({FlacStart(576), flac_frames, Text("after")}), 0, ""},
      {"FLAC of unknown length",
       Cat({FlacStart(0), flac_frames, Text("after")}), 42 + 2 * 11, "flac"},
      {"FLAC frame CRC-16 broken",
       Cat({FlacStart(0), flac_broken, Text("after")}), 42 + 11, "flac"},
      {"FLAC frame CRC-16 broken, length known",
       Cat({FlacStart(384), flac_broken}), 0, ""},
      {"FLAC frames misnumbered", Cat({FlacStart(0), FlacFrame(1, {0, 0, 3})}),
       0, ""},
      {"Ogg Speex", Cat({OggPage(2, 7, 0, speex), OggPage(4, 7, 1, speex)}),
       2 * 39, "spx"},
  };
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const std::vector<Case> &family : {IsoOggMatroskaFlacCases(),
                                          AviCases(),
                                          AiffCases(),
                                          MidiCases(),
                                          FlvCases(),
                                          AsfCases(),
                                          MpegPsCases(),
                                          MpegTsCases(),
                                          MpegAudioCases(),
                                          Ole2Cases(),
                                          SqliteCases(),
                                          PeCases(),
                                          ElfCases(),
                                          MachOCases(),
                                          SevenZipCases(),
                                          RarCases(),
                                          XzCases(),
                                          ZstdCases(),
                                          Lz4Cases(),
                                          GzipCases(),
                                          Bzip2Cases(),
                                          TarCases(),
                                          CpioCases(),
                                          ArCases(),
                                          Iso9660Cases(),
                                          TiffCases(),
                                          PsdCases(),
                                          IcoCases(),
                                          NetpbmCases(),
                                          TgaCases(),
                                          XcfCases(),
                                          TextCases()}) {
    cases.insert(cases.end(), family.begin(), family.end());
  }
  return cases;
}

TEST(FormathoundWalks, AcceptOnlyStructuresThatWalkToTheirEnd) {
  for (const Case &c : Cases()) {
    const uint64_t at = (uint64_t{1} << 32) - 5; // positions past 32 bits
    FakeReader reader(c.data, at);
    FoundItem item = PoisonedItem();
    const uint32_t answer = formathound::Detect(reader.reader(), at, &item);
    EXPECT_EQ(answer, c.size > 0 ? 1u : 0u) << c.label;
    if (answer == 1 && c.size > 0) {
      EXPECT_EQ(item.offset, at) << c.label;
      EXPECT_EQ(item.size, c.size) << c.label;
      EXPECT_STREQ(item.extension, c.extension) << c.label;
    }
  }
}

} // namespace
