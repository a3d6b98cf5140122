// The job file: LoadJob and SaveJob between a .job text file and the task list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/message_port.h"
#include "model/task.h"
#include "platform/file_system.h"

using TaskList = std::vector<std::unique_ptr<Task>>;

// Replaces tasks with those of the file at path. True when the file was read to its end (then
// jobPath = path); false when it does not exist (silently) or could not be read (reported
// through messages; the tasks read before the error stay, jobPath is unchanged). Never writes.
bool LoadJob(const std::string& path, TaskList& tasks, std::string& jobPath, IMessagePort& messages, IFileSystem& fs);
// Writes all tasks to path as UTF-16 text, replacing the file only once the new one is complete.
// On failure reports through messages, returns false and leaves the old file and jobPath as they
// were.
bool SaveJob(const std::string& path, const TaskList& tasks, std::string& jobPath, IMessagePort& messages,
             IFileSystem& fs);

// One task as its job-file line, line feed included (UTF-8).
std::string JobLine(const Task& task);
// Stores the fields of one job-file line in task; a line not starting with "<" leaves it as is.
void ParseJobLine(const std::string& line, Task& task);
