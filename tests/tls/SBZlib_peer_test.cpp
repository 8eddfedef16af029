// The compression facade against Python's zlib, as a MODE Z peer meets it: what we compress
// block by block (partial flushes, then the end of the stream) Python inflates block by block,
// each block whole as soon as it arrives; what Python compresses the same way we inflate the
// same way. The blocks mix text, long runs and incompressible bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"
#include "tests/tls/ClientTestSupport.h"
#include "tls/SBZlib.h"

namespace {

// python3 -c: MODE SOURCE TARGET BLOCKS. "inflate" reads our compressed blocks (their sizes
// in BLOCKS) and inflates each as it comes; "deflate" compresses the plain blocks (their sizes
// in BLOCKS) with a partial flush after each and the end after the last. TARGET gets the
// output; stdout the output's size per block.
constexpr const char* kPeer = R"(
import sys, zlib
mode, source, target, blocks = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
data = open(source, 'rb').read()
sizes = [int(n) for n in blocks.split(',')]
out, made, at = bytearray(), [], 0
z = zlib.decompressobj() if mode == 'inflate' else zlib.compressobj(6)
for i, n in enumerate(sizes):
    piece = data[at:at + n]
    at += n
    if mode == 'inflate':
        got = z.decompress(piece)
    else:
        got = z.compress(piece) + z.flush(zlib.Z_PARTIAL_FLUSH if i + 1 < len(sizes) else zlib.Z_FINISH)
    made.append(len(got))
    out += got
if mode == 'inflate' and not z.eof:
    sys.exit('the stream did not end')
open(target, 'wb').write(out)
print(','.join(str(n) for n in made))
)";

// The output sizes per block Python printed; empty when it failed.
std::vector<size_t> RunPeer(const std::string& mode, const std::filesystem::path& source,
                            const std::filesystem::path& target, const std::vector<size_t>& blocks) {
    std::string list;
    for (size_t n : blocks)
        list += (list.empty() ? "" : ",") + std::to_string(n);
    plat::ProcessOptions o;
    o.output = plat::ProcessOutput::Capture;
    o.wait = true;
    const plat::ProcessResult r =
        plat::StartProcess("python3", {"-c", kPeer, mode, source.string(), target.string(), list}, o);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<size_t> made;
    if (r.exitCode != 0) return made;
    for (const std::string& n : rtl::SplitFields(rtl::Trim(r.output), ','))
        made.push_back(size_t(std::stoull(n)));
    return made;
}

std::vector<std::string> Blocks() {
    std::vector<std::string> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(std::string("line ") + std::to_string(i) + " of the text\n");
    blocks.push_back(std::string(100000, 'z'));
    blocks.push_back(kwtest::RandomBytes(70000, 17));  // incompressible: grows in deflate
    blocks.push_back(std::string(1, 'x'));
    blocks.push_back(kwtest::RandomBytes(1024, 18) + std::string(5000, '\0'));
    return blocks;
}

TEST(SBZlibPython, OurBlocksInflateInPythonAsTheyArrive) {
    KW_REQUIRE_PEER(std::filesystem::exists("/usr/bin/python3"), "python3");
    kwtest::TempDir dir;
    const std::vector<std::string> blocks = Blocks();
    TZStreamRec z{};
    ASSERT_EQ(InitCompression(z, 8), Z_OK);
    std::string packed, plain;
    std::vector<size_t> sizes;
    std::vector<uint8_t> out;
    for (const std::string& block : blocks) {
        CompressData(z, block.data(), block.size(), out);
        packed.append(out.begin(), out.end());
        sizes.push_back(out.size());
        plain += block;
    }
    FinishCompression(z, out);
    packed.append(out.begin(), out.end());
    sizes.push_back(out.size());
    kwtest::WriteFile(dir / "packed", packed);
    const std::vector<size_t> made = RunPeer("inflate", dir / "packed", dir / "plain", sizes);
    ASSERT_EQ(made.size(), blocks.size() + 1);
    for (size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(made[i], blocks[i].size()) << "block " << i;
    EXPECT_EQ(made.back(), 0u) << "the end of the stream holds no data";
    EXPECT_TRUE(kwtest::ReadFile(dir / "plain") == plain);
}

TEST(SBZlibPython, PythonsBlocksInflateHereAsTheyArrive) {
    KW_REQUIRE_PEER(std::filesystem::exists("/usr/bin/python3"), "python3");
    kwtest::TempDir dir;
    const std::vector<std::string> blocks = Blocks();
    std::string plain;
    std::vector<size_t> sizes;
    for (const std::string& block : blocks) {
        plain += block;
        sizes.push_back(block.size());
    }
    kwtest::WriteFile(dir / "plain", plain);
    const std::vector<size_t> made = RunPeer("deflate", dir / "plain", dir / "packed", sizes);
    ASSERT_EQ(made.size(), blocks.size());
    const std::string packed = kwtest::ReadFile(dir / "packed");
    TZStreamRec z{};
    ASSERT_EQ(InitDecompression(z), Z_OK);
    size_t at = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::vector<uint8_t> out;
        DecompressData(z, packed.data() + at, made[i], out);
        at += made[i];
        EXPECT_TRUE(std::string(out.begin(), out.end()) == blocks[i]) << "block " << i;
    }
    EXPECT_EQ(at, packed.size());
    EndDecompression(z);
}

}  // namespace
