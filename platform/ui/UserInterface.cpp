// platform/ui/UserInterface.cpp: the application object: back-end choice, message handlers,
// the terminate request, and the headless output.
#include "platform/ui/UserInterface.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include "platform/ui/Backend.h"

namespace plat::ui {

namespace {

std::mutex gMutex;
std::unique_ptr<detail::Backend> gBackend;
std::atomic<bool> gTerminated{false};

struct Handler {
    int id;
    std::function<void()> run;
};
std::vector<Handler> gHandlers;
int gNextHandlerId = 1;

std::mutex gSinkMutex;
std::function<void(std::string_view)> gSink;

bool EnvIs(const char* name, std::string_view value) {
    const char* v = std::getenv(name);
    return v != nullptr && value == v;
}

detail::Backend& TheBackend() {
    InitializeApplication();
    return *gBackend;
}

}  // namespace

void InitializeApplication() {
    std::lock_guard lock(gMutex);
    if (gBackend) return;
    const char* display = std::getenv("DISPLAY");
    if (EnvIs("KW_HEADLESS", "1") || display == nullptr || *display == '\0') {
        gBackend = detail::CreateHeadlessBackend();
        return;
    }
    std::string why;
    gBackend = detail::CreateFltkBackend(why);
    if (!gBackend) {
        std::cerr << "kwLoader: " << why << "; running without windows\n";
        gBackend = detail::CreateHeadlessBackend();
    }
}

BackendKind CurrentBackend() {
    return TheBackend().Kind();
}

void ProcessMessages() {
    TheBackend().HandlePendingEvents();
    detail::RunMessageHandlers();
}

int AddMessageHandler(std::function<void()> handler) {
    std::lock_guard lock(gMutex);
    const int id = gNextHandlerId++;
    gHandlers.push_back({id, std::move(handler)});
    return id;
}

void RemoveMessageHandler(int id) {
    std::lock_guard lock(gMutex);
    std::erase_if(gHandlers, [id](const Handler& h) { return h.id == id; });
}

void Terminate() {
    gTerminated = true;
}
bool Terminated() {
    return gTerminated;
}
void ClearTerminateForTests() {
    gTerminated = false;
}

void ShowMessageBox(const std::string& text, const std::string& title, MessageKind kind) {
    TheBackend().MessageBox(text, title, kind);
}

std::optional<std::string> ChooseSaveFile(const SaveDialogOptions& options) {
    return TheBackend().ChooseSaveFile(options);
}

void ReportUncaughtException(const std::string& className, const std::string& message) {
    const std::string text = "Exceção " + className + ": " + message;
    // Standard error always, so a run without a display (or one whose window nobody sees)
    // still leaves the reason behind.
    if (CurrentBackend() == BackendKind::Headless) {
        detail::WriteHeadless("Erro: " + text);
    } else {
        std::cerr << text << '\n';
        // The application may have been told to terminate (the offline start): the report is
        // shown anyway, as the runtime's own report would be.
        const bool terminated = gTerminated.exchange(false);
        TheBackend().MessageBox(text, "Erro", MessageKind::Error);
        gTerminated = terminated;
    }
}

std::unique_ptr<FormView> CreateFormView(Form& form) {
    return TheBackend().CreateView(form);
}

void SetHeadlessOutputForTests(std::function<void(std::string_view)> sink) {
    std::lock_guard lock(gSinkMutex);
    gSink = std::move(sink);
}

namespace detail {

void RunMessageHandlers() {
    std::vector<Handler> handlers;
    {
        std::lock_guard lock(gMutex);
        handlers = gHandlers;
    }
    for (auto& h : handlers)
        h.run();
}

std::string PlainLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void WriteHeadless(std::string_view text) {
    std::string out = PlainLines(text);
    out += '\n';
    std::lock_guard lock(gSinkMutex);
    if (gSink) {
        gSink(out);
    } else {
        std::cerr << out << std::flush;
    }
}

}  // namespace detail

}  // namespace plat::ui
