// platform/ui/Backend.h: what each user-interface back end provides (internal to platform/ui).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/UserInterface.h"

namespace plat::ui::detail {

class Backend {
public:
    virtual ~Backend() = default;
    virtual BackendKind Kind() const = 0;
    // Handles pending events without waiting.
    virtual void HandlePendingEvents() = 0;
    virtual void MessageBox(const std::string& text, const std::string& title, MessageKind kind) = 0;
    virtual std::optional<std::string> ChooseSaveFile(const SaveDialogOptions& options) = 0;
    virtual std::unique_ptr<FormView> CreateView(Form& form) = 0;
};

std::unique_ptr<Backend> CreateHeadlessBackend();
// nullptr (with the reason in `why`) when no display can be opened.
std::unique_ptr<Backend> CreateFltkBackend(std::string& why);

// Runs the registered message handlers (UserInterface.cpp); the back ends' modal loops call it.
void RunMessageHandlers();
// The text with CR LF and lone CR made plain line feeds, the one line break both back ends
// (FLTK and the headless output) understand.
std::string PlainLines(std::string_view text);
// Writes one text to the headless output (standard error unless a test redirected it), with
// its line breaks made plain line feeds and a final line feed added.
void WriteHeadless(std::string_view text);

}  // namespace plat::ui::detail
