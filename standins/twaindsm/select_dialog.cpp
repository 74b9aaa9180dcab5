// The "Select Source" dialog of MSG_USERSELECT: a standard modal dialog (class #32770) with a
// list box of the sources' product names, OK and Cancel. Built from an in-memory template so
// that the DLL carries no resource script.
#include <cstring>

#include "standins/twaindsm/manager.h"

namespace twaindsm {
namespace {

constexpr WORD kListId = 100;

struct Template {
  std::vector<WORD> words;
  void Align(size_t bytes) {
    while ((words.size() * 2) % bytes) words.push_back(0);
  }
  void Dword(DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  }
  void Text(const wchar_t* text) {
    for (; *text; ++text) words.push_back(*text);
    words.push_back(0);
  }
  // One control: its style, place and size in dialog units, id, predefined class (0x0080
  // button, 0x0083 list box) and title.
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const wchar_t* title) {
    Align(4);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short v : {x, y, cx, cy}) words.push_back(static_cast<WORD>(v));
    words.push_back(id);
    words.push_back(0xFFFF);
    words.push_back(atom);
    Text(title);
    words.push_back(0);  // no creation data
  }
};

struct State {
  const std::vector<Source>* sources;
  int preselected;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<State*>(lParam);
      HWND list = GetDlgItem(dialog, kListId);
      for (const Source& source : *state->sources)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(source.identity.ProductName));
      SendMessageA(list, LB_SETCURSEL, WPARAM(state->preselected), 0);
      return TRUE;
    }
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      if (id == IDOK || (id == kListId && HIWORD(wParam) == LBN_DBLCLK)) {
        const LRESULT chosen = SendMessageA(GetDlgItem(dialog, kListId), LB_GETCURSEL, 0, 0);
        if (chosen != LB_ERR) EndDialog(dialog, chosen + 1);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int UserSelect(HWND owner, const std::vector<Source>& sources, int preselected) {
  Template t;
  t.Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
  t.Dword(0);
  t.words.push_back(3);  // controls
  for (short v : {0, 0, 200, 120}) t.words.push_back(static_cast<WORD>(v));
  t.words.push_back(0);  // no menu
  t.words.push_back(0);  // the standard dialog class
  t.Text(L"Select Source");
  t.words.push_back(8);
  t.Text(L"MS Shell Dlg");
  t.Item(LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 7, 7, 186, 86, kListId, 0x0083, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 83, 100, 50, 14, IDOK, 0x0080, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 143, 100, 50, 14, IDCANCEL, 0x0080, L"Cancel");
  t.Align(4);
  State state{&sources, preselected};
  const INT_PTR result = DialogBoxIndirectParamW(g_module, reinterpret_cast<LPCDLGTEMPLATEW>(t.words.data()),
                                                 owner, DialogProc, reinterpret_cast<LPARAM>(&state));
  return result > 0 ? static_cast<int>(result - 1) : -1;
}

}  // namespace twaindsm
