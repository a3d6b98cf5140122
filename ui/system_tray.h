// CSystemTray: the notification-area icon with its menu, its run animation icons and the
// end-of-run balloon (a desktop notification whose click opens the run's log).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <wx/taskbar.h>

class wxNotificationMessage;

class CSystemTray : public wxTaskBarIcon {
public:
    // Menu 129's commands (numbered 317xx: the toolkit's menu ids end at 32767).
    enum CommandId : int {
        IdAbout = 31781,
        IdRunAll = 31780,
        IdPreviewAll = 31782,
        IdShow = 31784,
        IdExit = 31773,
        IdBalloonClick = 1025,
        IdRaise = 1 /* a left double click: only brings the window forward */
    };

    CSystemTray();
    ~CSystemTray() override;

    // Adds the icon when the desktop has a notification area; false (and the icon stays
    // disabled) when it has none.
    bool Create();
    bool Enabled() const { return enabled; }
    void SetIconId(int id);
    int IconId() const { return iconId; }
    // Title cut to 63 characters, text to 255; an empty text removes a balloon still showing.
    void ShowBalloon(const std::string& title, const std::string& text);
    const std::string& BalloonText() const { return balloonText; }
    void Remove();

    // Receives the menu's commands and the balloon click (user-interface thread).
    std::function<void(int command)> onCommand;

    // Menu 129, as shown on a right click.
    wxMenu* CreatePopupMenu() override;

private:
    bool enabled = false;
    int iconId = 0;
    std::string balloonText;
    std::unique_ptr<wxNotificationMessage> balloon;
};
