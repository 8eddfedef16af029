// tests/tls/FtpTransfers.h: what the FTP client's peer tests run against every server and
// connection kind: one pass over every transfer the client makes, checked byte for byte in the
// server's folder, and the reply code a failure carries.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "rtl/Stream.h"
#include "support/TestSupport.h"
#include "tests/tls/ClientTestSupport.h"
#include "tls/SBSimpleFTPS.h"

namespace kwtest {

// The code of the EFTPSError f raises; -1 when it raises none.
template <class F>
int FtpErrorCode(F f) {
    try {
        f();
    } catch (const EFTPSError& e) {
        return e.ErrorCode;
    }
    return -1;
}

// How the transfers go: the data connection's direction, MODE Z, the size of the files moved
// (at least 6000 bytes: ranges and restarts fall inside it), and whether a download of a range
// is asked. A range ends with our close of a data connection the server is still writing to;
// proftpd's TLS sessions do not survive that (the session process dies of SIGPIPE and takes
// the control connection with it), while plain servers and vsftpd answer 426.
struct Transfers {
    bool passive;
    bool modeZ;
    size_t size = 200000;
    bool ranges = true;
};

// Every transfer kind against one logged-in server in a folder holding text.txt, which shows
// what arrived: upload and download, append, restarted and ranged downloads, a restarted
// upload, STOU, an empty file, a text download, the listing's size, deletes and 550s. label
// names the connection in failures.
inline void MoveFilesBothWays(TElSimpleFTPSClient& ftp, const std::filesystem::path& folder,
                              const Transfers& t, const std::string& label = {}) {
    const auto read = [&](const std::string& name) { return ReadFile(folder / name); };
    const std::string what =
        label + std::string(t.passive ? "passive" : "active") + (t.modeZ ? " MODE Z" : "");
    const std::string data = RandomBytes(t.size * 3 / 4, 7) + std::string(t.size - t.size * 3 / 4, 'z');

    // Upload, then download it back.
    rtl::MemoryStream up(data);
    ftp.SendFile(up, "up.bin");
    EXPECT_TRUE(read("up.bin") == data) << what;
    rtl::MemoryStream down;
    ftp.ReceiveFile("up.bin", &down);
    EXPECT_TRUE(down.Data() == data) << what;

    // Append.
    const std::string more = RandomBytes(3000, 8);
    rtl::MemoryStream tail(more);
    ftp.UploadStream(tail, "up.bin", 0, 0, true, 0);
    EXPECT_TRUE(read("up.bin") == data + more) << what;

    // A restarted download, and a range.
    rtl::MemoryStream rest;
    ftp.ReceiveFile("up.bin", &rest, 1000, 0);
    EXPECT_TRUE(rest.Data() == (data + more).substr(1000)) << what;
    if (t.ranges) {
        rtl::MemoryStream range;
        ftp.ReceiveFile("up.bin", &range, 1000, 5000);
        EXPECT_TRUE(range.Data() == data.substr(1000, 4000)) << what;
    }

    // A restarted upload: the server keeps the first 500 bytes and writes the rest from there.
    rtl::MemoryStream first(data);
    ftp.SendFile(first, "re.bin");
    std::string changed = data;
    for (size_t i = 500; i < changed.size(); i += 97)
        changed[i] = char(changed[i] ^ 0x5a);
    rtl::MemoryStream again(changed);
    ftp.UploadStream(again, "re.bin", 500, int64_t(changed.size()), false, 500);
    EXPECT_TRUE(read("re.bin") == changed) << what;

    // STOU: the server names the file.
    const std::string unique = RandomBytes(2000, 9);
    rtl::MemoryStream u(unique);
    ftp.UploadStream(u, "", 0, 0, false, 0);
    int found = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.is_regular_file() && read(e.path().filename()) == unique) ++found;
    EXPECT_EQ(found, 1) << what;

    // An empty file.
    rtl::MemoryStream empty;
    ftp.SendFile(empty, "empty.bin");
    EXPECT_TRUE(std::filesystem::exists(folder / "empty.bin")) << what;
    EXPECT_EQ(read("empty.bin"), "") << what;

    // Text: each line ends with CR LF in the stream.
    ftp.TransferType = ttASCII;
    rtl::MemoryStream text;
    ftp.ReceiveFile("text.txt", &text);
    EXPECT_EQ(text.Data(), "first\r\nsecond line\r\nthird\r\n") << what;
    ftp.TransferType = ttBinary;

    // The listing shows the file and its size.
    std::vector<std::string> lines;
    ftp.OnTextDataLine = [&](rtl::Component*, const std::string& line) { lines.push_back(line); };
    ftp.ListDirectory();
    ftp.OnTextDataLine = nullptr;
    int64_t listed = -1;
    for (const std::string& line : lines) {
        TSBFTPFileInfo info;
        if (TElSimpleFTPSClient::ParseListLine(line, info) && info.Name == "up.bin") listed = info.Size;
    }
    EXPECT_EQ(listed, int64_t(data.size() + more.size())) << what;

    ftp.DeleteRemoteFile("empty.bin");
    EXPECT_FALSE(std::filesystem::exists(folder / "empty.bin")) << what;
    EXPECT_EQ(FtpErrorCode([&] { ftp.DeleteRemoteFile("empty.bin"); }), 550) << what;
    EXPECT_EQ(FtpErrorCode([&] { ftp.ReceiveFile("missing.bin", &down); }), 550) << what;
    // The refusals were read whole: the next command meets its own reply.
    ftp.DeleteRemoteFile("up.bin");
    EXPECT_FALSE(std::filesystem::exists(folder / "up.bin")) << what;
}

}  // namespace kwtest
