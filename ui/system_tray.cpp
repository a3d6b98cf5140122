// The notification-area icon, its menu and the balloon.
#include "ui/system_tray.h"

#include <wx/menu.h>
#include <wx/notifmsg.h>

#include "ui/icons.h"
#include "util/texts.h"

CSystemTray::CSystemTray() {
    Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
        if (onCommand) {
            onCommand(event.GetId());
        }
    });
    Bind(wxEVT_TASKBAR_LEFT_DCLICK, [this](wxTaskBarIconEvent&) {
        if (onCommand) {
            onCommand(IdRaise);
        }
    });
}

CSystemTray::~CSystemTray() {
    Remove();
}

bool CSystemTray::Create() {
    if (!wxTaskBarIcon::IsAvailable()) {
        enabled = false;
        return false;
    }
    enabled = SetIcon(PemoIconBitmap(iconIdle), "Pemo");
    iconId = iconIdle;
    return enabled;
}

void CSystemTray::SetIconId(int id) {
    iconId = id;
    if (enabled) {
        SetIcon(PemoIconBitmap(id), "Pemo");
    }
}

void CSystemTray::ShowBalloon(const std::string& title, const std::string& text) {
    if (text.empty()) {
        if (balloon) {
            balloon->Close();
        }
        balloonText.clear();
        return;
    }
    balloonText = LeadingCharacters(text, 255);
    balloon = std::make_unique<wxNotificationMessage>(wxString::FromUTF8(LeadingCharacters(title, 63)),
                                                      wxString::FromUTF8(balloonText));
    balloon->Bind(wxEVT_NOTIFICATION_MESSAGE_CLICK, [this](wxCommandEvent&) {
        if (onCommand) {
            onCommand(IdBalloonClick);
        }
    });
    balloon->Show(10);
}

void CSystemTray::Remove() {
    if (balloon) {
        balloon->Close();
        balloon.reset();
    }
    if (enabled) {
        RemoveIcon();
        enabled = false;
    }
}

wxMenu* CSystemTray::CreatePopupMenu() {
    auto* menu = new wxMenu;
    menu->Append(IdAbout, "About...");
    menu->AppendSeparator();
    menu->Append(IdRunAll, "Run all");
    menu->Append(IdPreviewAll, "Preview all");
    menu->Append(IdShow, "Show Pemo");
    menu->AppendSeparator();
    menu->Append(IdExit, "E&xit");
    return menu;
}
