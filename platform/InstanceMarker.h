// platform/InstanceMarker.h: "a window of class C is open" without windows.
//
// The launcher asks whether a launcher ("TfkwUpdLoaderStatus") or an update executor
// ("TfkwUpdExecStatus") is already running by looking for a window of that class. Here the
// window's owner holds a lock on a file named after the class, and the question becomes
// "is that file locked". The lock is an open-file-description lock (fcntl F_OFD_SETLK) on the
// whole file: it belongs to the holder's open file, so the kernel drops it the moment the
// holder closes it or ends in any way, a crash or SIGKILL included, and it is never passed to
// the programs the holder starts (the file is opened close-on-exec). Unlike flock, such a lock
// can be tested (F_OFD_GETLK) without being taken, so a probe can never make a starting
// holder fail.
//
// The files live in KW_MARKER_DIR when set (tests isolate themselves with it), else in
// $XDG_RUNTIME_DIR, else in /tmp/kw-<uid>/ (created 0700; when another user owns that name,
// or it is a link, it is refused and the first of /tmp/kw-<uid>.1 to .7 that is this user's
// own is used instead). Class names are compared without regard to ASCII case, as window classes are. The
// files are never removed: removing a lock file while another process opens it would let two
// holders lock two different files.
#pragma once

#include <string>

#include "rtl/Exception.h"

namespace plat {

RTL_EXCEPTION(EInstanceMarkerError, rtl::Exception);

class InstanceMarker {
public:
    explicit InstanceMarker(std::string className);
    ~InstanceMarker();
    InstanceMarker(InstanceMarker&& other) noexcept;
    InstanceMarker& operator=(InstanceMarker&& other) noexcept;
    InstanceMarker(const InstanceMarker&) = delete;
    InstanceMarker& operator=(const InstanceMarker&) = delete;

    // Takes the marker when nobody holds it; false when another holder has it. True at once
    // when this object already holds it. Raises EInstanceMarkerError when the marker file
    // cannot be made.
    bool TryAcquire();
    // As TryAcquire, raising EInstanceMarkerError when another holder has it.
    void Acquire();
    // Gives the marker up (also done by the destructor).
    void Release();

    bool Held() const { return fd_ >= 0; }
    const std::string& ClassName() const { return className_; }

private:
    std::string className_;
    int fd_ = -1;
};

// Whether anyone (this process included) holds the marker of the class. Never takes the lock
// and never creates the file.
bool IsInstanceMarkerHeld(const std::string& className);

// The folder of the marker files (made when missing) and the file of one class.
std::string InstanceMarkerFolder();
std::string InstanceMarkerPath(const std::string& className);

}  // namespace plat
