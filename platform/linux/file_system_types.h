// What Linux file-system types keep of a file's modification time, by their statfs magic number.
#pragma once

#include <cstdint>

// True for the local types known to keep times to the second or finer, exactly as written (ext2/3/4,
// xfs, btrfs, tmpfs, ...). False for everything else: FAT and exFAT round them, network shares
// (SMB/CIFS, NFS) and FUSE file systems may round them or take the server's clock, and a type
// not known here is given the same benefit of the doubt.
bool FileSystemTypeKeepsFineTimes(std::uint64_t type);
