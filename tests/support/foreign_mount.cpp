#include "support/foreign_mount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Tools, format and mount commands (IMG the image, DEV it or its loop device, AT the mount
// point). NTFS as desktops mount it, refusing the names other systems cannot read.
struct Recipe {
    const char* tools;
    const char* format;
    const char* mount;
    bool loop;
};
const Recipe kRecipes[] = {{"mkfs.exfat mount.exfat-fuse losetup", "mkfs.exfat IMG", "mount.exfat-fuse DEV AT", true},
                           {"mkfs.ntfs ntfs-3g", "mkfs.ntfs -F -q -f IMG", "ntfs-3g -o windows_names DEV AT", false},
                           {"mkfs.vfat fusefat", "mkfs.vfat IMG", "fusefat -o rw+ DEV AT", false}};

std::string Fill(std::string text, const char* key, const std::string& value) {
    const std::size_t at = text.find(key);
    return at == std::string::npos ? text : text.replace(at, std::strlen(key), "'" + value + "'");
}

bool Quiet(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
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
    if (!Quiet(std::string("for t in ") + recipe.tools + "; do command -v $t || exit 1; done")) {
        return std::string("needs ") + recipe.tools;
    }
    if (!Quiet("truncate -s 16M '" + image + "' && " + Fill(recipe.format, "IMG", image))) {
        return "cannot make the image";
    }
    std::string device = image;
    char line[64] = "";
    if (FILE* out = recipe.loop ? ::popen(("losetup -f --show '" + image + "'").c_str(), "r") : nullptr) {
        const bool got = std::fgets(line, sizeof line, out) != nullptr;
        if (::pclose(out) != 0 || !got) {
            return "no loop device to be had";
        }
        line[std::strcspn(line, "\n")] = '\0';
        device = loop_ = line;
    }
    if (!Quiet(Fill(Fill(recipe.mount, "DEV", device), "AT", at))) {
        Unmount();
        return "cannot mount the image through FUSE";
    }
    at_ = at;
    // As a copy is made: written, timed through the open file, closed, renamed into place.
    const std::string made = at + "/t";
    const std::string renamed = at + "/u";
    const int fd = ::open(made.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0600);
    const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    struct stat st {};
    losesTimes_ = fd < 0 || ::write(fd, "t", 1) != 1 || ::futimens(fd, times) != 0 || ::close(fd) != 0 ||
                  ::rename(made.c_str(), renamed.c_str()) != 0 || ::stat(renamed.c_str(), &st) != 0 ||
                  st.st_mtim.tv_sec != 1600000000;
    ::unlink(made.c_str());
    ::unlink(renamed.c_str());
    return {};
}

bool ForeignMount::Unmount() {
    const bool done = (at_.empty() || Quiet("umount '" + at_ + "'")) & (loop_.empty() || Quiet("losetup -d " + loop_));
    const bool mounted = !at_.empty();
    at_.clear();
    loop_.clear();
    return mounted && done;
}
