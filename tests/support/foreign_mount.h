// A foreign file system (exFAT, NTFS, FAT) made in an image file and mounted through FUSE on a
// directory for the length of one test.
#pragma once

#include <string>

enum class ForeignKind { Exfat, Ntfs, Fat };
const char* NameOf(ForeignKind kind);

class ForeignMount {
public:
    ~ForeignMount() { Unmount(); }
    // Makes a small image of the kind at image and mounts it on the existing directory at. Empty
    // on success, else why it cannot be done here (no root, no /dev/fuse, a tool missing).
    std::string Mount(ForeignKind kind, const std::string& image, const std::string& at);
    // True when it was mounted and is no longer.
    bool Unmount();

private:
    std::string at_;
    std::string loop_;
};
