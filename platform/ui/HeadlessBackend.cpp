// platform/ui/HeadlessBackend.cpp: the user interface without a display.
//
// Nothing is drawn. What a user would read goes to standard error: the caption of every
// control marked `echo`, each time it changes, and every message box as "<title>: <text>".
// Modal calls return at once and the save dialog is always cancelled, so a launcher run
// without a display never blocks.
#include <map>

#include "platform/ui/Backend.h"

namespace plat::ui::detail {

namespace {

class HeadlessView final : public FormView {
public:
    // The captions the form starts with are its design, not news: only changes are written.
    explicit HeadlessView(Form& form) : form_(form) {
        for (const auto& c : form_.controls)
            if (c.echo) written_[c.name] = c.caption;
    }

    void Show() override {
        visible_ = true;
        Changed();
    }
    void Hide() override { visible_ = false; }
    bool Visible() const override { return visible_; }

    void Changed() override {
        for (const auto& c : form_.controls) {
            if (!c.echo) continue;
            auto& last = written_[c.name];
            if (c.caption != last) {
                last = c.caption;
                WriteHeadless(c.caption);
            }
        }
    }

    // Shown and closed at once; like every modal display, it ends hidden.
    void ShowModal() override {
        Show();
        RunMessageHandlers();
        Hide();
    }
    void EndModal() override {}
    unsigned long NativeHandle() const override { return 0; }

private:
    Form& form_;
    bool visible_ = false;
    std::map<std::string, std::string> written_;
};

class HeadlessBackend final : public Backend {
public:
    BackendKind Kind() const override { return BackendKind::Headless; }
    void HandlePendingEvents() override {}
    void MessageBox(const std::string& text, const std::string& title, MessageKind) override {
        WriteHeadless(title + ": " + text);
    }
    std::optional<std::string> ChooseSaveFile(const SaveDialogOptions&) override { return std::nullopt; }
    std::unique_ptr<FormView> CreateView(Form& form) override { return std::make_unique<HeadlessView>(form); }
};

}  // namespace

std::unique_ptr<Backend> CreateHeadlessBackend() {
    return std::make_unique<HeadlessBackend>();
}

}  // namespace plat::ui::detail
