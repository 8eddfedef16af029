// tests/database/drivers/standin/KwTdsStandin.cpp: a stand-in for FreeTDS's DB-Library and
// Client-Library, built for the tests only, that lets a test see and steer how the drivers
// load and initialise their library and what messages they are told:
//   - the calls that set the library up and down are journaled (KwTdsStandinJournal), with
//     the version each cs_ctx_alloc asked for;
//   - the environment variable KW_TDS_STANDIN_FAIL makes calls fail (items separated by ";"):
//       dbinit                 dbinit answers FAIL
//       cs_ctx_alloc=V,V...    cs_ctx_alloc answers CS_FAIL for those versions
//       cs_ctx_alloc=mem       cs_ctx_alloc answers CS_MEM_ERROR
//       ct_init, ct_exit, cs_ctx_drop
//   - KwTdsStandinSetMessages gives the messages ct_diag reports, one per line:
//       "S number severity state text" (a server message) or "C number severity text".
// Every other required entry is a do-nothing function (KwTdsStandinEntries.cpp).
#include <ctpublic.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#define KW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Message {
    bool server = false;
    CS_INT number = 0;
    CS_INT severity = 0;
    CS_INT state = 0;
    std::string text;
};

std::mutex gLock;
std::string gJournal;
std::vector<Message> gMessages;
int gContext = 0;

std::string Failing() {
    const char* v = std::getenv("KW_TDS_STANDIN_FAIL");
    return v != nullptr ? v : "";
}

bool Fails(const std::string& what) {
    const std::string items = ";" + Failing() + ";";
    return items.find(";" + what + ";") != std::string::npos;
}

bool ContextAllocFails(CS_INT version, bool& memory) {
    const std::string items = Failing();
    const size_t at = items.find("cs_ctx_alloc=");
    if (at == std::string::npos) return false;
    std::string list = items.substr(at + 13);
    list = list.substr(0, list.find(';'));
    memory = list == "mem";
    return memory || ("," + list + ",").find("," + std::to_string(version) + ",") != std::string::npos;
}

void Note(const std::string& line) {
    std::lock_guard<std::mutex> guard(gLock);
    gJournal += line + "\n";
}

CS_INT CountOf(bool server) {
    CS_INT n = 0;
    for (const Message& m : gMessages)
        if (m.server == server) ++n;
    return n;
}

const Message* Nth(bool server, CS_INT index) {
    CS_INT n = 0;
    for (const Message& m : gMessages)
        if (m.server == server && ++n == index) return &m;
    return nullptr;
}

}  // namespace

KW_EXPORT const char* KwTdsStandinJournal() {
    static std::string copy;
    std::lock_guard<std::mutex> guard(gLock);
    copy = gJournal;
    return copy.c_str();
}

KW_EXPORT void KwTdsStandinClearJournal() {
    std::lock_guard<std::mutex> guard(gLock);
    gJournal.clear();
}

KW_EXPORT void KwTdsStandinSetMessages(const char* lines) {
    std::lock_guard<std::mutex> guard(gLock);
    gMessages.clear();
    std::istringstream in(lines != nullptr ? lines : "");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string kind;
        Message m;
        fields >> kind >> m.number >> m.severity;
        m.server = kind == "S";
        if (m.server) fields >> m.state;
        std::getline(fields >> std::ws, m.text);
        gMessages.push_back(m);
    }
}

KW_EXPORT int dbinit() {
    Note("dbinit");
    return Fails("dbinit") ? 0 : 1;
}

KW_EXPORT void dbexit() {
    Note("dbexit");
}

KW_EXPORT const char* dbversion() {
    return "stand-in v9.8.7";
}

KW_EXPORT CS_RETCODE cs_ctx_alloc(CS_INT version, CS_CONTEXT** context) {
    Note("cs_ctx_alloc " + std::to_string(version));
    bool memory = false;
    if (ContextAllocFails(version, memory)) return memory ? CS_MEM_ERROR : CS_FAIL;
    *context = reinterpret_cast<CS_CONTEXT*>(&gContext);
    return CS_SUCCEED;
}

KW_EXPORT CS_RETCODE ct_init(CS_CONTEXT*, CS_INT version) {
    Note("ct_init " + std::to_string(version));
    return Fails("ct_init") ? CS_FAIL : CS_SUCCEED;
}

KW_EXPORT CS_RETCODE ct_exit(CS_CONTEXT*, CS_INT option) {
    Note("ct_exit " + std::to_string(option));
    return Fails("ct_exit") ? CS_FAIL : CS_SUCCEED;
}

KW_EXPORT CS_RETCODE cs_ctx_drop(CS_CONTEXT*) {
    Note("cs_ctx_drop");
    return Fails("cs_ctx_drop") ? CS_FAIL : CS_SUCCEED;
}

KW_EXPORT CS_RETCODE ct_diag(CS_CONNECTION*, CS_INT operation, CS_INT type, CS_INT index, CS_VOID* buffer) {
    std::lock_guard<std::mutex> guard(gLock);
    switch (operation) {
        case CS_INIT:
            return CS_SUCCEED;
        case CS_CLEAR:
            gMessages.clear();
            return CS_SUCCEED;
        case CS_STATUS:
            *static_cast<CS_INT*>(buffer) = CountOf(type == CS_SERVERMSG_TYPE);
            return CS_SUCCEED;
        case CS_GET: {
            const Message* m = Nth(type == CS_SERVERMSG_TYPE, index);
            if (m == nullptr) return CS_FAIL;
            if (m->server) {
                auto* out = static_cast<CS_SERVERMSG*>(buffer);
                out->msgnumber = m->number;
                out->severity = m->severity;
                out->state = m->state;
                std::strncpy(out->text, m->text.c_str(), sizeof out->text - 1);
                out->textlen = CS_INT(std::strlen(out->text));
            } else {
                auto* out = static_cast<CS_CLIENTMSG*>(buffer);
                out->msgnumber = m->number;
                out->severity = m->severity;
                std::strncpy(out->msgstring, m->text.c_str(), sizeof out->msgstring - 1);
                out->msgstringlen = CS_INT(std::strlen(out->msgstring));
            }
            return CS_SUCCEED;
        }
        default:
            return CS_FAIL;
    }
}
