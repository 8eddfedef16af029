// platform/ui/UserInterface.h: the program's user interface as one process-wide application
// object: windows rendered from Form descriptions, message boxes, the save dialog, the
// processing of pending window events, and the "terminate" request.
//
// Two back ends: FLTK when a display can be opened, and a headless one otherwise (no
// DISPLAY, or KW_HEADLESS=1). The headless back end shows nothing: it writes the captions of
// the controls marked `echo` (the launcher's task line) and every message box to standard
// error, and its modal calls return at once. The choice is made once, at the first use.
//
// There is no message loop of its own: the launcher runs linearly and processes pending
// events where it chooses (ProcessMessages), and inside modal calls. All calls belong to the
// main thread. A worker thread never calls into this; it leaves its requests with an object
// the main thread drains from a handler registered with AddMessageHandler, which
// ProcessMessages and every modal loop run.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Form.h"

namespace plat::ui {

enum class BackendKind { Headless, Fltk };

// Chooses the back end when that has not happened yet: headless with KW_HEADLESS=1 or
// without DISPLAY, FLTK when the display opens, headless (with a note on standard error)
// when it does not. Later calls do nothing.
void InitializeApplication();
BackendKind CurrentBackend();

// Handles pending window events (repaints, clicks) and runs the registered message
// handlers. Returns at once.
void ProcessMessages();

// Functions run on the main thread by ProcessMessages and the modal loops; the id removes it.
int AddMessageHandler(std::function<void()> handler);
void RemoveMessageHandler(int id);

// Asks the application to end: modal windows and message boxes return at once from now on.
void Terminate();
bool Terminated();

enum class MessageKind { Error, Information };
// A modal message box with one OK button. Headless: "<title>: <text>" on standard error.
// After Terminate the FLTK back end shows nothing.
void ShowMessageBox(const std::string& text, const std::string& title, MessageKind kind = MessageKind::Error);

struct SaveDialogOptions {
    std::string title;
    std::string fileName;          // proposed name
    std::string defaultExtension;  // added to a chosen name without extension ("txt")
    // (description, pattern) pairs: {"Arquivos texto (*.txt)", "*.txt"}
    std::vector<std::pair<std::string, std::string>> filters;
};
// The chosen path, or nothing when the user cancelled (always nothing when headless).
std::optional<std::string> ChooseSaveFile(const SaveDialogOptions& options);

// The program ends because of an exception nobody handled: tells the user what it was (a
// message box on a display, standard error always).
void ReportUncaughtException(const std::string& className, const std::string& message);

// A window showing a Form. The Form belongs to the caller and must outlive the view; the
// caller changes it and then calls Changed.
class FormView {
public:
    virtual ~FormView() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool Visible() const = 0;
    // The Form changed: bring the window in line (repainted at the next processing).
    virtual void Changed() = 0;
    // Shows the window modally: returns after EndModal, or at once when the application is
    // terminating (and always at once when headless).
    virtual void ShowModal() = 0;
    virtual void EndModal() = 0;
    // A platform handle of the window (the X window id), 0 when it has none.
    virtual unsigned long NativeHandle() const = 0;

    // A button was clicked: its control name.
    std::function<void(const std::string& control)> OnClick;
};

// A view of the form on the current back end (initialising the application first).
std::unique_ptr<FormView> CreateFormView(Form& form);

// Tests: where the headless back end writes (nothing resets it: pass an empty function to go
// back to standard error), and forgetting a Terminate.
void SetHeadlessOutputForTests(std::function<void(std::string_view)> sink);
void ClearTerminateForTests();

}  // namespace plat::ui
