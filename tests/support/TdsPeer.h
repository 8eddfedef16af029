// tests/support/TdsPeer.h: the scripted TDS 7 server (tests/peers/tds_peer.py) for the SQL
// Server and Sybase driver tests.
//
// The peer runs in a temporary folder with its own SQLite database, listens on 127.0.0.1 at a
// free port and writes every request it receives (login, batch, remote procedure call,
// attention) to a journal of JSON lines before it answers, so a test that has its answer
// finds its request there. The fixture writes a private freetds.conf that names the peer
// "kwpeer" and points FREETDSCONF at it, so the real FreeTDS client libraries reach it by that
// server name. The peer is killed when the object goes.
//
// Use:
//     kwtest::TdsPeer peer({"sa:secret"});
//     KW_REQUIRE_PEER(peer.Available(), peer.Reason());
//     connect to "kwpeer:kwtest" as sa/secret; peer.Batches() are the texts it received
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/TestSupport.h"

namespace kwtest {

// One journal line: a flat JSON object whose string and number fields Field() reads.
struct TdsJournalEntry {
    std::string json;

    int Spid() const { return std::stoi(Field("spid", "0")); }
    std::string Kind() const { return Field("kind"); }
    // The value of a top-level field: a string unescaped, a number or literal as written;
    // fallback when the field is absent.
    std::string Field(const std::string& name, const std::string& fallback = "") const {
        const std::string key = "\"" + name + "\": ";
        size_t at = 0;
        int depth = 0;
        bool inString = false;
        for (size_t i = 0; i < json.size(); ++i) {
            const char c = json[i];
            if (inString) {
                if (c == '\\') ++i;
                else if (c == '"') inString = false;
                continue;
            }
            if (c == '{' || c == '[') ++depth;
            else if (c == '}' || c == ']') --depth;
            else if (c == '"') {
                if (depth == 1 && json.compare(i, key.size(), key) == 0) {
                    at = i + key.size();
                    break;
                }
                inString = true;
            }
        }
        if (at == 0) return fallback;
        if (json[at] == '"') return Unescape(at + 1);
        size_t end = at;
        while (end < json.size() && json[end] != ',' && json[end] != '}') ++end;
        return json.substr(at, end - at);
    }

private:
    static void AppendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    std::string Unescape(size_t i) const {
        std::string out;
        while (i < json.size() && json[i] != '"') {
            if (json[i] != '\\') {
                out += json[i++];
                continue;
            }
            const char e = json[i + 1];
            i += 2;
            switch (e) {
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    uint32_t cp = std::stoul(json.substr(i, 4), nullptr, 16);
                    i += 4;
                    if (cp >= 0xD800 && cp < 0xDC00 && json.compare(i, 2, "\\u") == 0) {
                        const uint32_t low = std::stoul(json.substr(i + 2, 4), nullptr, 16);
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        i += 6;
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default: out += e;
            }
        }
        return out;
    }
};

class TdsPeer {
public:
    // users: "name:password" entries the peer accepts (every login when empty).
    explicit TdsPeer(const std::vector<std::string>& users = {}) {
        const std::string script = std::string(KW_SOURCE_DIR) + "/tests/peers/tds_peer.py";
        std::vector<std::string> args = {script, "--port-file", (dir_ / "port").string(), "--database",
                                         (dir_ / "peer.sqlite").string(), "--journal", Journal().string(),
                                         "--parent", std::to_string(::getpid())};
        for (const std::string& u : users) {
            args.push_back("--user");
            args.push_back(u);
        }
        plat::ProcessOptions o;
        o.output = plat::ProcessOutput::File;
        o.outputFile = (dir_ / "stderr").string();
        try {
            pid_ = plat::StartProcess("python3", args, o).pid;
        } catch (const plat::EProcessError& e) {
            reason_ = "python3 could not be started: " + e.Message();
            return;
        }
        if (!Eventually([&] { return std::filesystem::exists(dir_ / "port") || Ended(); }, std::chrono::seconds(60)) ||
            !std::filesystem::exists(dir_ / "port")) {
            reason_ = "the TDS peer did not start: " + ReadFile(dir_ / "stderr");
            return;
        }
        port_ = std::stoi(ReadFile(dir_ / "port"));
        WriteFile(dir_ / "freetds.conf", "[global]\n\ttds version = 7.1\n\tclient charset = UTF-8\n"
                                         "[kwpeer]\n\thost = 127.0.0.1\n\tport = " +
                                             std::to_string(port_) + "\n");
        setenv("FREETDSCONF", (dir_ / "freetds.conf").c_str(), 1);
    }

    ~TdsPeer() {
        if (pid_ > 0 && !Ended()) ::kill(pid_, SIGKILL);
        unsetenv("FREETDSCONF");
    }
    TdsPeer(const TdsPeer&) = delete;
    TdsPeer& operator=(const TdsPeer&) = delete;

    bool Available() const { return port_ > 0; }
    // The peer's SQLite database (WAL mode), for readers from outside the program.
    std::filesystem::path DatabaseFile() const { return dir_ / "peer.sqlite"; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    std::filesystem::path ConfigFile() const { return dir_ / "freetds.conf"; }
    std::string Errors() const { return ReadFile(dir_ / "stderr"); }

    // Every journal entry so far; Mark() is their count, so EntriesSince(Mark()) taken before
    // a step gives what the step sent.
    std::vector<TdsJournalEntry> Entries() const {
        std::vector<TdsJournalEntry> entries;
        std::ifstream in(Journal());
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) entries.push_back({line});
        return entries;
    }
    size_t Mark() const { return Entries().size(); }
    std::vector<TdsJournalEntry> EntriesSince(size_t mark, const std::string& kind = "") const {
        std::vector<TdsJournalEntry> all = Entries();
        std::vector<TdsJournalEntry> out;
        for (size_t i = mark; i < all.size(); ++i)
            if (kind.empty() || all[i].Kind() == kind) out.push_back(all[i]);
        return out;
    }
    // The texts of the SQL batches received since the mark.
    std::vector<std::string> Batches(size_t mark = 0) const {
        std::vector<std::string> texts;
        for (const TdsJournalEntry& e : EntriesSince(mark, "batch"))
            texts.push_back(e.Field("text"));
        return texts;
    }

private:
    std::filesystem::path Journal() const { return dir_ / "journal"; }
    // The platform reaps a child nobody waits for: once reaped, the process is gone.
    bool Ended() const { return ::kill(pid_, 0) != 0 && errno == ESRCH; }

    TempDir dir_;
    int pid_ = 0;
    int port_ = 0;
    std::string reason_;
};

}  // namespace kwtest
