#pragma once
// A dialog template built in memory (DLGTEMPLATEEX) from the model's control tables, so the
// Win32 window is laid out from the same table as the Qt one; the dialog manager then converts
// dialog units, sets the font on every control and keeps them scaled with the monitor's DPI.

#include <windows.h>

#include <string>
#include <vector>

#include "app/model/Controls.h"

class DialogTemplate {
  public:
    // A dialog of `cx` by `cy` dialog units in the dialog font.
    DialogTemplate(const std::string& title, int cx, int cy, DWORD style, DWORD exStyle = 0);

    // A control of the model's tables.
    void Add(const ControlSpec& control);
    // A whole table; its fixed labels (id 0) take the ids IdAt gives them.
    template <size_t N>
    void AddAll(const ControlSpec (&controls)[N]) {
        for (size_t i = 0; i < N; ++i) {
            ControlSpec c = controls[i];
            c.id = IdAt(controls, i);
            Add(c);
        }
    }
    void AddAll(const ControlTable& controls) {
        for (size_t i = 0; i < controls.count; ++i) {
            ControlSpec c = controls.controls[i];
            c.id = c.id != 0 ? c.id : kUnnamedBase + static_cast<int>(i);
            Add(c);
        }
    }
    // The id of control `i` of a table: its own, or one past kUnnamedBase for a fixed label,
    // so that an anchored label can be moved too.
    template <size_t N>
    static int IdAt(const ControlSpec (&controls)[N], size_t i) {
        return controls[i].id != 0 ? controls[i].id : kUnnamedBase + static_cast<int>(i);
    }
    static constexpr int kUnnamedBase = 2000;
    // A control of any window class.
    void Add(int id, const wchar_t* windowClass, const std::string& text, DWORD style, int x, int y,
             int cx, int cy);

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

    // The font every dialog of the window uses.
    static constexpr const wchar_t* kFontName = L"宋体";
    static constexpr WORD kFontPoints = 9;

  private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d);
    void Text(const std::wstring& text);
    void AlignDword();

    std::vector<WORD> words_;
    size_t countAt_ = 0;  // where the number of controls is kept
    bool afterRadio_ = false;
};
