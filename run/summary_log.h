// The summary log "summary.log": one line of twenty comma-separated fields per run, appended as
// 8-bit text in the locale's character set.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "model/message_port.h"
#include "platform/file_system.h"
#include "sync/run_context.h"

// The line for a run of the job at jobPath; taskLabel is "**all**" or the single task's name,
// `when` the local time the line is written. Fields are neither quoted nor escaped.
std::string SummaryLine(const std::string& jobPath, const std::string& taskLabel, const std::tm& when,
                        const RunStats& stats, std::int32_t seconds);
// Appends the line to the file at path (created when missing, never truncated). A failure shows
// "Error writing to summary:" and the reason; returns whether the line was written.
bool AppendSummaryLine(const std::string& path, const std::string& line, IMessagePort& messages, IFileSystem& fs);
