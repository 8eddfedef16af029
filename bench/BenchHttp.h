// bench/BenchHttp.h: what the HTTP benchmarks share: streams that count and keep nothing (one
// that writes to /dev/null as curl -o /dev/null does), the served files, and lighttpd started
// on a free port of 127.0.0.1 from a configuration that gets the lines a case adds (TLS
// settings), stopped when the object goes.
#pragma once

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/BenchProcess.h"
#include "rtl/Stream.h"

namespace bench {

// Counts what it is given and keeps nothing.
class DiscardStream : public rtl::Stream {
public:
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void*, size_t count) override {
        size_ += int64_t(count);
        return count;
    }
    int64_t Seek(int64_t, rtl::SeekOrigin) override { return size_; }
    int64_t Size() override { return size_; }
    void SetSize(int64_t s) override { size_ = s; }

private:
    int64_t size_ = 0;
};

// Writes what it is given to /dev/null as well, one write(2) per piece as curl -o /dev/null
// does: a download's sink that costs ours what curl's costs curl.
class NullDeviceStream final : public DiscardStream {
public:
    size_t Write(const void* data, size_t count) override {
        return DiscardStream::Write(data, null_.Write(data, count));
    }

private:
    rtl::FileStream null_{"/dev/null", rtl::FileMode::OpenReadWrite};
};

// size bytes of one 1 MiB block repeated: the same byte, or a pseudo-random block.
inline void WriteBigFile(const std::filesystem::path& file, int64_t size, bool random) {
    std::ofstream big(file, std::ios::binary);
    std::string block(1 << 20, 'b');
    uint32_t x = 7;
    if (random)
        for (char& c : block)
            c = char((x = x * 1103515245u + 12345u) >> 24);
    for (int64_t left = size; left > 0; left -= int64_t(block.size()))
        big.write(block.data(), std::streamsize(std::min<int64_t>(left, int64_t(block.size()))));
}

// lighttpd serving root on a free port; Running() once it accepts.
class LighttpdProcess {
public:
    LighttpdProcess(const std::filesystem::path& dir, const std::filesystem::path& root,
                    const std::string& extra = {})
        : port_(FreeLoopbackPort()) {
        const std::filesystem::path conf = dir / ("lighttpd-" + std::to_string(port_) + ".conf");
        {
            std::ofstream out(conf);
            out << "server.document-root = \"" << root.string() << "\"\nserver.bind = \"127.0.0.1\"\n"
                << "server.port = " << port_ << "\nserver.errorlog = \"" << (dir / "error.log").string()
                << "\"\n"
                << extra;
        }
        pid_ = Spawn({"lighttpd", "-D", "-f", conf.string()});
        for (int i = 0; i < 300 && pid_ > 0 && !Accepts(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~LighttpdProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        Wait(pid_);
    }
    LighttpdProcess(const LighttpdProcess&) = delete;
    LighttpdProcess& operator=(const LighttpdProcess&) = delete;

    bool Running() const { return pid_ > 0 && Accepts(port_); }
    int Port() const { return port_; }

private:
    int port_;
    pid_t pid_ = 0;
};

}  // namespace bench
