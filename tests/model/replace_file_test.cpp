// ReplaceFile: a write that fails part-way leaves the old file and no temporary behind.
#include "model/replace_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

TEST(ReplaceFile, FailurePartWayKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir / "job.job";
    WriteFileBytes(path, "old");
    EXPECT_THROW(ReplaceFile(path, CStdioFileEx::modeWriteUnicode,
                             [](CStdioFileEx& file) {
                                 file.WriteString("half of the new content");
                                 throw CFileException(CFileException::diskFull, ENOSPC, "temp");
                             }),
                 CFileException);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"job.job"});
    try {
        ReplaceFile(path, 0, [](CStdioFileEx&) { throw CFileException(CFileException::diskFull, ENOSPC, "temp"); });
    } catch (const CFileException& e) {
        EXPECT_EQ(e.fileName, path); // reported under the user's name, not the temporary's
    }
    ReplaceFile(path, 0, [](CStdioFileEx& file) { file.WriteString("new"); });
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"job.job"});
}

} // namespace
