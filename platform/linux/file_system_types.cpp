// The statfs magic numbers of the file systems that keep modification times as written.
#include "platform/linux/file_system_types.h"

namespace {

// From the kernel's magic.h; listed in README under "When a file counts as unchanged".
constexpr std::uint64_t kFineTypes[] = {
    0xEF53,     // ext2, ext3, ext4
    0x58465342, // xfs
    0x9123683E, // btrfs
    0x01021994, // tmpfs
    0x858458F6, // ramfs
    0xF2F52010, // f2fs
    0x2FC12FC1, // zfs
    0xCA451A4E, // bcachefs
    0x3153464A, // jfs
    0x52654973, // reiserfs
    0x3434,     // nilfs2
    0x794C7630, // overlayfs
    0x7366746E, // ntfs3
    0x5346544E, // ntfs
};

} // namespace

bool FileSystemTypeKeepsFineTimes(std::uint64_t type) {
    for (std::uint64_t fine : kFineTypes) {
        if (type == fine) {
            return true;
        }
    }
    return false;
}
