// rtl/NotifyStringList.h: a string list that tells its owner when its lines change.
//
// A query's SQL text and an update object's statements are lists that callers fill in place
// (Clear, Add, SetText); the owner must learn of every change to rebuild its parameters and drop
// its prepared statement. NotifyStringList wraps a StringList and calls OnChange after each
// change, once per BeginUpdate/EndUpdate bracket. The handler belongs to the owner: copying the
// lines into another list never copies it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "rtl/StringList.h"

namespace rtl {

class NotifyStringList {
public:
    NotifyStringList() = default;
    NotifyStringList(const NotifyStringList&) = delete;
    NotifyStringList& operator=(const NotifyStringList&) = delete;

    int Count() const { return lines_.Count(); }
    const std::string& operator[](int index) const { return lines_[index]; }
    std::string Text() const { return lines_.Text(); }
    const StringList& Lines() const { return lines_; }

    int Add(std::string_view line) {
        const int i = lines_.Add(line);
        Changed();
        return i;
    }
    void Insert(int index, std::string_view line) {
        lines_.Insert(index, line);
        Changed();
    }
    void Set(int index, std::string_view line) {
        lines_.Set(index, line);
        Changed();
    }
    void Delete(int index) {
        lines_.Delete(index);
        Changed();
    }
    void Clear() {
        lines_.Clear();
        Changed();
    }
    void SetText(std::string_view text) {
        lines_.SetText(text);
        Changed();
    }
    void Assign(const StringList& lines) {
        lines_ = lines;
        Changed();
    }
    void AddStrings(const StringList& lines) {
        lines_.AddStrings(lines);
        Changed();
    }

    void BeginUpdate() { ++updating_; }
    void EndUpdate() {
        if (updating_ > 0 && --updating_ == 0 && pending_) {
            pending_ = false;
            if (OnChange) OnChange();
        }
    }

    std::function<void()> OnChange;

private:
    void Changed() {
        if (updating_ > 0) {
            pending_ = true;
            return;
        }
        if (OnChange) OnChange();
    }

    StringList lines_;
    int updating_ = 0;
    bool pending_ = false;
};

}  // namespace rtl
