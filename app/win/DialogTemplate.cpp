#include "app/win/DialogTemplate.h"

#include <commctrl.h>

#include "platform/windows/Wide.h"

DialogTemplate::DialogTemplate(const std::string& title, int cx, int cy, DWORD style,
                               DWORD exStyle) {
    Word(1);       // dlgVer
    Word(0xFFFF);  // signature: the extended template
    Dword(0);      // helpID
    Dword(exStyle);
    Dword(style | DS_SETFONT);
    countAt_ = words_.size();
    Word(0);
    Word(0);  // x, y
    Word(0);
    Word(static_cast<WORD>(cx));
    Word(static_cast<WORD>(cy));
    Word(0);  // no menu
    Word(0);  // the dialog's own class
    Text(platform::win::Wide(title));
    Word(kFontPoints);
    Word(FW_NORMAL);
    Word(MAKEWORD(FALSE, GB2312_CHARSET));  // italic, charset
    Text(kFontName);
}

void DialogTemplate::Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
}

void DialogTemplate::Text(const std::wstring& text) {
    words_.insert(words_.end(), text.begin(), text.end());
    Word(0);
}

void DialogTemplate::AlignDword() {
    if (words_.size() % 2 != 0) {
        Word(0);
    }
}

void DialogTemplate::Add(int id, const wchar_t* windowClass, const std::string& text, DWORD style,
                         int x, int y, int cx, int cy) {
    AlignDword();
    Dword(0);  // helpID
    Dword(0);  // exStyle
    Dword(style | WS_CHILD | WS_VISIBLE);
    for (int v : {x, y, cx, cy}) {
        Word(static_cast<WORD>(static_cast<short>(v)));
    }
    Dword(static_cast<DWORD>(id));
    Text(windowClass);
    Text(platform::win::Wide(text));
    Word(0);  // no creation data
    ++words_[countAt_];
}

void DialogTemplate::Add(const ControlSpec& c) {
    const wchar_t* windowClass = L"STATIC";
    DWORD style = 0;
    switch (c.kind) {
        case ControlKind::Group:
            windowClass = L"BUTTON";
            style = BS_GROUPBOX;
            break;
        case ControlKind::Label:
            // Collected texts are shown as they are: an & is no mnemonic.
            style = SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::Digits:
            windowClass = L"EDIT";
            style = ES_CENTER | ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
            break;
        case ControlKind::Edit:
            windowClass = L"EDIT";
            style = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
            break;
        case ControlKind::Check:
            windowClass = L"BUTTON";
            style = BS_AUTOCHECKBOX | WS_TABSTOP;
            break;
        case ControlKind::Radio:
            windowClass = L"BUTTON";
            style = BS_AUTORADIOBUTTON | WS_TABSTOP;
            break;
        case ControlKind::Button:
            windowClass = L"BUTTON";
            style = BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::Tab:
            windowClass = WC_TABCONTROLW;
            style = WS_CLIPSIBLINGS;
            break;
        case ControlKind::List:
            windowClass = WC_LISTVIEWW;
            style = LVS_REPORT | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP;
            break;
        case ControlKind::Date:
            windowClass = DATETIMEPICK_CLASSW;
            style = DTS_SHORTDATEFORMAT | WS_TABSTOP;
            break;
        case ControlKind::Icon:
            style = SS_ICON;
            break;
    }
    // Each control is a group of its own, but a run of radio buttons is one: arrows move in it.
    if (c.kind != ControlKind::Radio || !afterRadio_) {
        style |= WS_GROUP;
    }
    afterRadio_ = c.kind == ControlKind::Radio;
    Add(c.id, windowClass, c.text, style, c.x, c.y, c.cx, c.cy);
}
