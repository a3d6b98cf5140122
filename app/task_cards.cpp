// Task card and status bar texts.
#include "app/task_cards.h"

#include <cstdio>
#include <ctime>

#include "util/texts.h"

namespace {} // namespace

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

std::string TaskCountText(int tasks, int disabled) {
    return "Tasks: " + std::to_string(tasks) + ", disabled: " + std::to_string(disabled);
}

std::string DriveLetterText(const std::string& driveLetter) {
    return driveLetter.empty() ? "No drive for ? in paths" : "Drive for ? in paths: " + driveLetter;
}
