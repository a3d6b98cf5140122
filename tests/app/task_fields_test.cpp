// The task editor's field checks and exclusion-list rules, and the task cards' texts.
#include "app/task_cards.h"
#include "app/task_fields.h"

#include <gtest/gtest.h>

#include "platform/locale_text.h"

namespace {

TEST(TaskFields, ValuesTheJobFileCannotHoldAreNamed) {
    struct Case {
        const char* text;
        const char* path;
        const char* name;
    };
    for (const Case& c : {
             Case{"/home/me/photos", "", ""},
             Case{"/home/%USER%/x", "The Percent character can't be used in a path", ""},
             Case{"a<b", "The \"<\" character can't be used in a path", "The \"<\" character can't be used in a name"},
             Case{"two\nlines", "A line break can't be used in a path", "A line break can't be used in a name"},
             Case{"cr\r", "A line break can't be used in a path", "A line break can't be used in a name"},
             Case{"50% off", "The Percent character can't be used in a path", ""},
         }) {
        EXPECT_EQ(PathProblem(c.text), c.path) << c.text;
        EXPECT_EQ(NameProblem(c.text), c.name) << c.text;
    }
    EXPECT_EQ(ExclusionProblem("*.tmp"), "");
    EXPECT_EQ(ExclusionProblem("%temp%"), "") << "only paths refuse a percent sign";
    EXPECT_EQ(ExclusionProblem("<x"), "The \"<\" character can't be used in an exclusion");
    for (const char* removable : {"/media/me/usb", "/run/media/me/usb/backup", "/mnt", "/mnt/disk"}) {
        EXPECT_TRUE(IsRemovableMountPath(removable)) << removable;
    }
    for (const char* fixed : {"/home/me/media", "/mnt2/x", "/run/mediadisk", "mnt/x", ""}) {
        EXPECT_FALSE(IsRemovableMountPath(fixed)) << fixed;
    }
}

TEST(TaskFields, ExclusionListSplitJoinAndTheTypedItem) {
    EXPECT_EQ(SplitExclusions(";;*.tmp;;/a/b;"), (std::vector<std::string>{"*.tmp", "/a/b"}));
    EXPECT_TRUE(SplitExclusions("").empty());
    EXPECT_TRUE(SplitExclusions(";;;").empty());
    EXPECT_EQ(JoinExclusions({"*.tmp", "/a/b"}), "*.tmp;/a/b");
    EXPECT_EQ(JoinExclusions({}), "");
    EXPECT_EQ(JoinExclusions(SplitExclusions("x;y;z")), "x;y;z");

    std::vector<std::string> entries{"*.tmp"};
    EXPECT_TRUE(AddPendingExclusion(entries, "*.bak"));
    EXPECT_FALSE(AddPendingExclusion(entries, "*.tmp")) << "a double-clicked copy is not doubled";
    EXPECT_FALSE(AddPendingExclusion(entries, ""));
    EXPECT_EQ(entries, (std::vector<std::string>{"*.tmp", "*.bak"}));
}

} // namespace

TEST(TaskCards, CardAndStatusTexts) {
    Task task;
    task.name = "Photos";
    task.source = "/home/me/photos";
    task.destination = "/backup/photos";
    task.exclusions = "*.tmp;/home/me/photos/cache";
    task.lastRun = -1;
    EXPECT_EQ(TaskCardText(task, "%m/%d/%y %H:%M"),
              "Photos\n/home/me/photos\n/backup/photos\n*.tmp;/home/me/photos/cache\n");
    task.lastRun = 86400 * 365 + 3600 + 120; // 1971-01-01 01:02 in the tests' UTC
    EXPECT_EQ(LastRunText(task.lastRun, "%m/%d/%y %H:%M"), "01/01/71 01:02");
    EXPECT_EQ(LastRunText(task.lastRun, std::string("%d.%m.%y ") + kHourOf12WithoutZero + ":%M %p"),
              "01.01.71 1:02 AM");
    EXPECT_EQ(LastRunText(task.lastRun, ""), "");
    EXPECT_EQ(TaskCardText(task, "%y").substr(TaskCardText(task, "%y").rfind('\n') + 1), "71");

    EXPECT_EQ(TaskCountText(1234, 1), "Tasks: 1234, disabled: 1");
    EXPECT_EQ(DriveLetterText(""), "No drive for ? in paths");
    EXPECT_EQ(DriveLetterText("E"), "Drive for ? in paths: E");
}
