// Reading one level of a walked tree.
#include "sync/directory_reader.h"

#include "sync/tree_cursor.h"

CDirectoryReader::CDirectoryReader(IFileSystem& fs, CTreeCursor& tree) : fs_(fs), tree_(&tree) {}

CDirectoryReader::CDirectoryReader(IFileSystem& fs, const DirectoryHandle& dir) : fs_(fs), dir_(&dir) {}

FsError CDirectoryReader::Open() {
    if (tree_ == nullptr) {
        return FsError();
    }
    FsError error = tree_->Open();
    if (error) {
        return error;
    }
    dir_ = tree_->Current(error);
    return error;
}

FsError CDirectoryReader::List() {
    if (dir_ == nullptr) {
        return FsError::OfKind(ErrorKind::NotFound);
    }
    FsError error;
    stream_ = fs_.ListDirectory(*dir_, error);
    if (!stream_ && !error) {
        error = FsError::OfKind(ErrorKind::Other);
    }
    return error;
}

FsError CDirectoryReader::OpenAndList() {
    FsError error = Open();
    return error ? error : List();
}

bool CDirectoryReader::Next(DirEntry& entry) {
    return stream_ != nullptr && stream_->Next(entry);
}

FsError CDirectoryReader::End() const {
    return stream_ != nullptr ? stream_->Error() : FsError::OfKind(ErrorKind::NotFound);
}

FsError CDirectoryReader::ReadAll(std::vector<DirEntry>& entries) {
    FsError error = OpenAndList();
    if (error) {
        return error;
    }
    DirEntry entry;
    while (Next(entry)) {
        entries.push_back(entry);
    }
    error = End();
    stream_.reset();
    return error;
}

FsError CDirectoryReader::StatusOf(const std::string& name, bool followLink, FileStatus& status) {
    if (dir_ == nullptr) {
        return FsError::OfKind(ErrorKind::NotFound);
    }
    return fs_.StatusAt(*dir_, name, followLink, status);
}
