// Task card and status bar texts.
#include "app/task_cards.h"

#include <cstdio>
#include <ctime>

#include "util/texts.h"

namespace {

std::string Counted(const char* label, int count) {
    char text[64];
    std::snprintf(text, sizeof text, "%s: %03i", label, count);
    return text;
}

} // namespace

std::string LastRunText(std::int32_t lastRun, const std::string& dateTimeFormat) {
    if (lastRun == -1) {
        return {};
    }
    const std::time_t t = lastRun;
    std::tm local{};
    char buffer[128];
    if (!LocalCalendarTime(t, local)) {
        return {};
    }
    const std::size_t length = std::strftime(buffer, sizeof buffer, dateTimeFormat.c_str(), &local);
    return std::string(buffer, length);
}

std::string TaskCardText(const Task& task, const std::string& dateTimeFormat) {
    return task.name + "\n" + task.source + "\n" + task.destination + "\n" + task.exclusions + "\n" +
           LastRunText(task.lastRun, dateTimeFormat);
}

std::string JobCountText(int tasks) {
    return Counted("Job count", tasks);
}

std::string DisabledCountText(int disabled) {
    return Counted("Disabled jobs", disabled);
}

std::string DriveLetterText(const std::string& driveLetter) {
    return driveLetter.empty() ? "No variable drive" : "Variable drive: " + driveLetter;
}
