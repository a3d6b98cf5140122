#include "support/foreign_mount.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Format and mount commands (shell variables: I the image, D it or its loop device, M the mount
// point). NTFS as desktops mount it, refusing names Windows cannot read.
struct Recipe {
    const char* format;
    const char* mount;
    bool loop;
};
const Recipe kRecipes[] = {{"mkfs.exfat $I", "mount.exfat-fuse $D $M", true},
                           {"mkfs.ntfs -F -q -f $I", "ntfs-3g -o windows_names $D $M", false},
                           {"mkfs.vfat $I", "fusefat -o rw+ $D $M", false}};

bool Quiet(const std::string& command, const std::string& image, const std::string& device, const std::string& at) {
    return std::system(
               ("I='" + image + "' D='" + device + "' M='" + at + "'; " + command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

const char* NameOf(ForeignKind kind) {
    const char* names[] = {"exFAT", "NTFS", "FAT"};
    return names[static_cast<int>(kind)];
}

std::string ForeignMount::Mount(ForeignKind kind, const std::string& image, const std::string& at) {
    const Recipe& recipe = kRecipes[static_cast<int>(kind)];
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
        return "needs root and /dev/fuse";
    }
    if (!Quiet("truncate -s 16M $I && " + std::string(recipe.format), image, "", "")) {
        return std::string("cannot make the image: is ") + recipe.format + " installed?";
    }
    char line[64] = "";
    FILE* out = recipe.loop ? ::popen(("losetup -f --show '" + image + "'").c_str(), "r") : nullptr;
    if (out != nullptr) {
        const bool got = std::fgets(line, sizeof line, out) != nullptr;
        if (::pclose(out) != 0 || !got) {
            return "no loop device to be had";
        }
    }
    loop_ = std::string(line, std::strcspn(line, "\n"));
    if (!Quiet(recipe.mount, image, loop_.empty() ? image : loop_, at)) {
        Unmount();
        return std::string("cannot mount the image: is ") + recipe.mount + " installed?";
    }
    at_ = at;
    return {};
}

bool ForeignMount::Unmount() {
    const bool done = (at_.empty() || std::system(("umount '" + at_ + "'").c_str()) == 0) &&
                      (loop_.empty() || std::system(("losetup -d " + loop_).c_str()) == 0);
    const bool mounted = !at_.empty();
    at_.clear();
    loop_.clear();
    return mounted && done;
}
