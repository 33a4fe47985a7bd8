// File-system images made at test time by the file systems' own tools:
// every file once, named where the metadata still names it, its bytes
// extracted exact (also when fragmented), a deleted file whose bytes were
// overwritten not claimed whole, and carving kept to what no allocated file
// holds.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

using nlohmann::json;

// Files the images hold; mix.bin carries a copy of b.png inside it.
constexpr const char* kMakeFiles =
    "mkdir -p files && cd files && convert -size 300x200 gradient:red-blue a.jpg && "
    "convert -size 200x100 plasma:fractal b.png && convert -size 640x480 plasma:fractal c.jpg && "
    "convert -size 400x300 plasma:fractal big.jpg && convert -size 100x80 gradient:green-yellow d.jpg && "
    "head -c 20000 /dev/urandom > s1.bin && head -c 20000 /dev/urandom > gap.bin && "
    "head -c 20000 /dev/urandom > s3.bin && echo small > small.txt && "
    "{ head -c 700000 /dev/urandom; cat b.png; head -c 700000 /dev/urandom; } > mix.bin";

// Overwrites 4 KiB in the middle of the first copy of files/NAME in IMAGE.
std::string Damage(const std::string& image, const std::string& name) {
    return "python3 -c \"import sys; d=open('" + image + "','r+b'); b=d.read(); f=open('files/" + name +
           "','rb').read(); at=b.find(f[:4096]); assert at>=0; d.seek(at+len(f)//2); d.write(bytes(4096))\"";
}

class FileSystemImages : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"mkfs.vfat", "mcopy", "mke2fs", "debugfs", "mkntfs", "ntfscp", "sfdisk", "convert"}) {
            if (Shell(std::string("command -v ") + tool + " >/dev/null") != 0) {
                GTEST_SKIP() << "SKIPPED: " << tool << " is missing (scripts/setup.sh installs it)";
            }
        }
        CopySignatureLibrary(plugins_);
        Make(kMakeFiles);
    }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    HoundRun Scan(std::vector<std::string> args) {
        args.insert(args.begin(), "scan");
        args.insert(args.end(), {"--plugins", plugins_, "--json", "-q"});
        return RunHound(args);
    }
    void Make(const std::string& command) {
        ASSERT_EQ(Shell("cd " + ShellQuote(dir_.path()) + " && export MTOOLS_SKIP_CHECK=1 && (" + command +
                        ") >/dev/null 2>&1"),
                  0)
            << command;
    }
    std::string Sha256(const std::string& name) {
        std::string sum;
        Shell("sha256sum < " + ShellQuote(Path("files/" + name)) + " | cut -c1-64", &sum);
        return sum.substr(0, 64);
    }

    TempDir dir_;
    std::string plugins_ = PluginFolder(dir_.path() + "/plugins", {"jpeghound", "photohound", "formathound", "markhound"});
};

TEST_F(FileSystemImages, EveryFileOnceNamedWithItsBytes) {
    struct Expected {
        const char* file;  // in files/
        const char* path;  // "": carved, no name; "?": deleted, named as the file system now knows it
        bool allocated;
    };
    struct Row {
        const char* kind;
        std::string make;  // makes the image named input
        const char* input;
        std::vector<Expected> files;
        const char* overwritten;  // a deleted file whose bytes were overwritten: named, not whole
        const char* told = "";    // in the notes
    };
    const std::string fat =
        "truncate -s 40M fat.img && mkfs.vfat -F 32 -s 1 fat.img && mmd -i fat.img ::/DCIM && "
        "mcopy -i fat.img files/a.jpg files/c.jpg ::/DCIM/ && mcopy -i fat.img files/b.png files/mix.bin ::/ && "
        "mdel -i fat.img ::/DCIM/c.jpg";
    // In a partition at 1 MiB: big.jpg written into the gap that gap.bin
    // left and on behind s3.bin (fragmented), c.jpg deleted and then
    // overwritten, and d.jpg in free space that no entry names (carved); a
    // second partition holds no file system, only a.jpg: it is carved whole.
    const std::string partitioned =
        "truncate -s 40M p.img && mkfs.vfat -F 32 -s 1 p.img && mmd -i p.img ::/keep && "
        "mcopy -i p.img files/s1.bin files/gap.bin files/s3.bin ::/keep/ && mdel -i p.img ::/keep/gap.bin && "
        "dd if=files/d.jpg of=p.img bs=1M seek=30 conv=notrunc && "
        "printf '\\377\\377\\377\\377' | dd of=p.img bs=1 seek=$((512+0x1EC)) conv=notrunc && "
        "mcopy -i p.img files/big.jpg ::/ && "
        "mmd -i p.img ::/gone && mcopy -i p.img files/c.jpg ::/gone/ && mdel -i p.img ::/gone/c.jpg && " +
        Damage("p.img", "c.jpg") +
        " && truncate -s 44M disk.img && printf 'start=2048, size=81920, type=c\\nstart=83968, type=83\\n' | "
        "sfdisk -q disk.img && dd if=p.img of=disk.img bs=1M seek=1 conv=notrunc && "
        "dd if=files/a.jpg of=disk.img bs=4096 seek=$((83968 * 512 / 4096 + 1)) conv=notrunc";
    const std::string ext = " -d files/tree IMAGE 20M && debugfs -w -R 'rm /c.jpg' IMAGE";
    const std::string tree = "mkdir -p files/tree/pics && cp files/a.jpg files/b.png files/tree/pics/ && "
                             "cp files/c.jpg files/mix.bin files/tree/";
    auto with = [](std::string text, const std::string& image) {
        for (size_t at = text.find("IMAGE"); at != std::string::npos; at = text.find("IMAGE")) text.replace(at, 5, image);
        return text;
    };
    const Row rows[] = {
        {"FAT32", fat, "fat.img",
         {{"a.jpg", "/DCIM/a.jpg", true}, {"b.png", "/b.png", true}, {"mix.bin", "/mix.bin", true},
          {"c.jpg", "?", false}},
         nullptr},
        {"FAT32 in a partition", partitioned, "disk.img",
         {{"s1.bin", "/keep/s1.bin", true}, {"s3.bin", "/keep/s3.bin", true}, {"big.jpg", "/big.jpg", true},
          {"d.jpg", "", false}, {"a.jpg", "", false}},
         "c.jpg", "bytes at 42991616) holds no file system that hound reads"},
        {"ext4", tree + " && mke2fs -q -t ext4" + with(ext, "e4.img"), "e4.img",
         {{"a.jpg", "/pics/a.jpg", true}, {"b.png", "/pics/b.png", true}, {"mix.bin", "/mix.bin", true},
          {"c.jpg", "/c.jpg", false}},
         nullptr},
        // 1 KiB blocks: the larger files' blocks lie around indirect blocks.
        // a.jpg's inode claims 70 TB: it is not listed (its block list is
        // not built), and carving finds it.
        {"ext2",
         tree + " && mke2fs -q -t ext2 -b 1024" + with(ext, "e2.img") +
             " && debugfs -w -R 'sif /pics/a.jpg size 0x400000000000' e2.img",
         "e2.img",
         {{"a.jpg", "", true}, {"b.png", "/pics/b.png", true}, {"mix.bin", "/mix.bin", true},
          {"c.jpg", "/c.jpg", false}},
         nullptr},
        // Deleted as the ext3 driver deletes: the inode keeps no block, so
        // c.jpg is carved, read around the indirect block after its 12th block.
        {"ext3",
         tree + " && mke2fs -q -t ext3 -b 4096 -d files/tree e3.img 20M && "
                "i=$(debugfs -R 'stat /c.jpg' e3.img | sed -n 's/^Inode: \\([0-9]*\\).*/\\1/p') && "
                "debugfs -w -R 'rm /c.jpg' e3.img && debugfs -w -R \"sif <$i> size 0\" e3.img && "
                "for f in 0 1 2 3 4 5 6 7 8 9 10 11 IND DIND TIND; do "
                "debugfs -w -R \"sif <$i> block[$f] 0\" e3.img; done",
         "e3.img",
         {{"a.jpg", "/pics/a.jpg", true}, {"b.png", "/pics/b.png", true}, {"c.jpg", "", false}},
         nullptr},
        // small.txt lives inside its MFT entry.
        {"NTFS",
         "truncate -s 40M nt.img && mkntfs -q -F -f nt.img && ntfscp -f nt.img files/a.jpg a.jpg && "
         "ntfscp -f nt.img files/mix.bin mix.bin && ntfscp -f nt.img files/small.txt small.txt",
         "nt.img", {{"a.jpg", "/a.jpg", true}, {"mix.bin", "/mix.bin", true}, {"small.txt", "/small.txt", true}},
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        Make(row.make);
        const std::string out = Path(std::string("out-") + row.input);
        const HoundRun run = Scan({Path(row.input), "--out", out});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_NE(run.err.find(row.told), std::string::npos) << run.err;
        std::map<std::string, std::vector<json>> by_digest;
        for (const std::string& line : Lines(run.out)) {
            const json item = json::parse(line);
            if (item.contains("sha256")) by_digest[item["sha256"]].push_back(item);
            // A file not claimed whole is neither hashed nor extracted.
            if (item.value("overwritten", false)) {
                EXPECT_FALSE(item.contains("extracted")) << line;
                EXPECT_FALSE(item.contains("sha256")) << line;
            }
        }
        for (const Expected& expected : row.files) {
            SCOPED_TRACE(expected.file);
            const std::vector<json>& found = by_digest[Sha256(expected.file)];
            ASSERT_EQ(found.size(), 1u) << run.out << run.err;
            const json& item = found[0];
            if (std::string(expected.path).empty()) {
                EXPECT_FALSE(item.contains("path"));
            } else {
                if (std::string(expected.path) != "?") {
                    EXPECT_EQ(item["path"], expected.path);
                }
                EXPECT_EQ(item["allocated"], expected.allocated);
            }
            ASSERT_TRUE(item.contains("extracted"));
            EXPECT_EQ(ReadBytes(item["extracted"]), ReadBytes(Path(std::string("files/") + expected.file)));
        }
        if (row.overwritten != nullptr) {
            EXPECT_EQ(by_digest.count(Sha256(row.overwritten)), 0u);
            EXPECT_NE(run.out.find("\"overwritten\":true"), std::string::npos) << run.out;
        }
    }
    // The audit counts the named files apart from the carved ones.
    std::string audit;
    ASSERT_EQ(Shell("cat " + ShellQuote(Path("out-fat.img/audit.txt")), &audit), 0);
    EXPECT_NE(audit.find("named by their file systems: 4 files (1 deleted, 0 of them overwritten); the other 0 carved"),
              std::string::npos)
        << audit;
    // An evidence image's file systems are read through the image, by a
    // reader that opens it again.
    if (Shell("command -v ewfacquire >/dev/null") == 0) {
        Make("ewfacquire -u -q -t fat -c fast fat.img");
        const HoundRun run = Scan({Path("fat.E01")});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_NE(run.out.find("\"path\":\"/DCIM/a.jpg\""), std::string::npos) << run.out;
    }
    // The DFXML report names a listed file as file-system walkers do.
    std::string xml;
    ASSERT_EQ(Scan({Path("fat.img"), "--dfxml", Path("fat.xml")}).exit_code, 0);
    ASSERT_EQ(Shell("cat " + ShellQuote(Path("fat.xml")), &xml), 0);
    for (const char* element : {"<filename>DCIM/a.jpg</filename>", "<alloc>0</alloc>", "<inode>"}) {
        EXPECT_NE(xml.find(element), std::string::npos) << element;
    }
    // Every position carved and no file system read: the PNG inside mix.bin
    // is found as well, and nothing is named.
    for (const char* option : {"--carve=all", "--no-fs"}) {
        SCOPED_TRACE(option);
        const HoundRun run = Scan({Path("fat.img"), option, "--out", Path(std::string("out-") + option)});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        size_t pngs = 0;
        for (const std::string& line : Lines(run.out)) {
            const json item = json::parse(line);
            pngs += item.value("sha256", "") == Sha256("b.png");
            if (std::string(option) == "--no-fs") {
                EXPECT_FALSE(item.contains("path")) << line;
            }
        }
        EXPECT_EQ(pngs, 2u) << run.out;
    }
}

}  // namespace
