// The notification-area icon, its menu and the balloon.
#include "ui/system_tray.h"

#include <wx/menu.h>
#include <wx/notifmsg.h>

#include "ui/icons.h"

std::string CutToCharacters(const std::string& text, std::size_t characters) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (count == characters) {
                return text.substr(0, i);
            }
            ++count;
        }
    }
    return text;
}

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
    balloonText = CutToCharacters(text, 255);
    balloon = std::make_unique<wxNotificationMessage>(wxString::FromUTF8(CutToCharacters(title, 63)),
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
