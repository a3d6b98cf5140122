// The job file: LoadJob and SaveJob between a .job text file and the task list.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/message_port.h"
#include "model/task.h"
#include "platform/file_system.h"

using TaskList = std::vector<std::unique_ptr<Task>>;

// How a job file was written, so that a save keeps what the user wrote: its encoding, its line
// ends, and the lines that are not tasks (comments and the like), each kept before the task it
// preceded (or, once that task is gone, the next one still there), in the file's order.
struct JobForm {
    enum class Encoding { Utf16, EightBit, Utf8Marked };
    Encoding encoding = Encoding::Utf16;
    bool crLf = false;
    std::vector<std::pair<const Task*, std::vector<std::string>>> linesBefore;
    std::vector<std::string> linesAfter;
};

// Replaces tasks with those of the file at path. True when the file was read to its end (then
// jobPath = path); false when it does not exist (silently) or could not be read (reported
// through messages; the tasks read before the error stay, jobPath is unchanged). Never writes.
// With form, records how the file was written.
bool LoadJob(const std::string& path, TaskList& tasks, std::string& jobPath, IMessagePort& messages, IFileSystem& fs,
             JobForm* form = nullptr);
// Writes all tasks to path as form says (without one: UTF-16 text), replacing the file only once
// the new one is complete.
// On failure reports through messages, returns false and leaves the old file and jobPath as they
// were.
bool SaveJob(const std::string& path, const TaskList& tasks, std::string& jobPath, IMessagePort& messages,
             IFileSystem& fs, const JobForm* form = nullptr);

// One task as its job-file line, line feed included (UTF-8).
std::string JobLine(const Task& task);
// Stores the fields of one job-file line in task; a line not starting with "<" leaves it as is.
void ParseJobLine(const std::string& line, Task& task);
