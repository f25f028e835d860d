// The save-file dialog: a dialog of its own on the screen (name, folder,
// type, Save and Cancel), or the script's answer, or -- with nobody to see
// it -- the offered name.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceFolder.h"
#include "DialogBox.h"
#include "HandheldPath.h"
#include "ScreenMessageBox.h"
#include "ScriptedAnswers.h"
#include "commdlg.h"

namespace handheld::detail {
namespace {

constexpr WORD kNameField = 1152;  // edt1
constexpr WORD kFolderText = 1091;
constexpr WORD kTypeText = 1089;
constexpr const char16_t* kDefaultFolder = u"\\My Documents";
constexpr size_t kMaxPath = 260;

thread_local DWORD last_error = 0;

// Backslashes only, one between parts, a leading one, none trailing.
std::u16string NormalFolder(LPCWSTR folder) {
  std::u16string in = folder && *folder ? folder : kDefaultFolder;
  std::u16string out;
  for (char16_t c : in) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && !out.empty() && out.back() == u'\\') continue;
    out.push_back(c);
  }
  if (out.empty() || out[0] != u'\\') out.insert(out.begin(), u'\\');
  while (out.size() > 1 && out.back() == u'\\') out.pop_back();
  return out;
}

// A file the handheld can hold, as the path gate decides.
bool ValidName(const std::u16string& name) {
  return !name.empty() && name.back() != u'\\' && HandheldPath(name).ok();
}

// The full path on the handheld for what was typed: a path of its own
// (starting with '\') or a name in `folder`, with the default extension
// when it has none.
std::optional<std::u16string> FullPath(std::u16string typed, const std::u16string& folder,
                                       LPCWSTR defaultExtension) {
  std::replace(typed.begin(), typed.end(), u'/', u'\\');
  std::u16string path = typed.starts_with(u'\\') ? typed : folder + u"\\" + typed;
  if (!ValidName(path)) return std::nullopt;
  const size_t nameStart = path.rfind(u'\\') + 1;
  if (defaultExtension && *defaultExtension &&
      path.find(u'.', nameStart) == std::u16string::npos)
    path += std::u16string(u".") + defaultExtension;
  return path;
}

bool Exists(const std::u16string& devicePath) {
  std::error_code ignored;
  return std::filesystem::exists(HostPath(devicePath), ignored);
}

// "Sirf Log File (*.log)": the chosen pair of the filter.
std::u16string TypeText(const OPENFILENAMEW& ofn) {
  if (!ofn.lpstrFilter) return u"";
  std::vector<std::u16string> texts;
  for (LPCWSTR p = ofn.lpstrFilter; *p && texts.size() < 64; p += texts.back().size() + 1)
    texts.emplace_back(p);
  const size_t pair = ofn.nFilterIndex > 0 ? ofn.nFilterIndex - 1 : 0;
  if (texts.size() < 2 * pair + 2) return texts.empty() ? u"" : texts[0];
  return texts[2 * pair] + u" (" + texts[2 * pair + 1] + u")";
}

// Asks before an existing file is replaced; true to go on.
bool MayReplace(HWND owner, const std::u16string& path, DWORD flags) {
  if (!(flags & OFN_OVERWRITEPROMPT) || !Exists(path)) return true;
  const std::u16string name = path.substr(path.rfind(u'\\') + 1);
  return MessageBoxW(owner, (name + u" already exists.\nDo you want to replace it?").c_str(),
                     u"Save As", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// Gives the chosen path back through the caller's record.
BOOL Choose(OPENFILENAMEW* ofn, const std::u16string& path) {
  if (path.size() + 1 > ofn->nMaxFile) {
    last_error = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  std::copy(path.begin(), path.end(), ofn->lpstrFile);
  ofn->lpstrFile[path.size()] = 0;
  const size_t nameStart = path.rfind(u'\\') + 1;
  const size_t dot = path.rfind(u'.');
  ofn->nFileOffset = static_cast<WORD>(nameStart);
  ofn->nFileExtension =
      static_cast<WORD>(dot != std::u16string::npos && dot > nameStart ? dot + 1 : path.size());
  if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
    const std::u16string title = path.substr(nameStart);
    const size_t n = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
    std::copy_n(title.begin(), n, ofn->lpstrFileTitle);
    ofn->lpstrFileTitle[n] = 0;
  }
  return TRUE;
}

struct Session {
  OPENFILENAMEW* ofn;
  std::u16string folder;
  std::u16string chosen;
};
thread_local Session* current = nullptr;

BOOL CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  Session* session = current;
  if (!session) return FALSE;
  switch (message) {
    case WM_INITDIALOG: {
      std::u16string offered = session->ofn->lpstrFile;
      const size_t slash = offered.rfind(u'\\');
      if (slash != std::u16string::npos) offered = offered.substr(slash + 1);
      SetDlgItemTextW(dialog, kNameField, offered.c_str());
      SetDlgItemTextW(dialog, kFolderText, session->folder.c_str());
      SetDlgItemTextW(dialog, kTypeText, TypeText(*session->ofn).c_str());
      SetFocus(GetDlgItem(dialog, kNameField));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        WCHAR typed[kMaxPath];
        GetDlgItemTextW(dialog, kNameField, typed, kMaxPath);
        std::optional<std::u16string> path =
            FullPath(typed, session->folder, session->ofn->lpstrDefExt);
        if (!path) {
          MessageBoxW(dialog, u"The file name is not valid.", u"Save As", MB_OK | MB_ICONWARNING);
          return TRUE;
        }
        if (!MayReplace(dialog, *path, session->ofn->Flags)) return TRUE;  // another name, then
        session->chosen = *path;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

DialogBox::Description SaveDialog(const std::u16string& title) {
  DialogBox::Description d;
  d.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
  d.cx = 136;
  d.cy = 78;
  d.caption = title;
  using Item = DialogBox::Item;
  const DWORD text = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
  d.items = {
      Item{text, 0, 6, 8, 28, 8, 0xFFFF, u"STATIC", u"Name:"},
      Item{WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 36, 6, 94, 12, kNameField,
           u"EDIT", u""},
      Item{text, 0, 6, 24, 28, 8, 0xFFFF, u"STATIC", u"Folder:"},
      Item{text, 0, 36, 24, 94, 8, kFolderText, u"STATIC", u""},
      Item{text, 0, 6, 38, 28, 8, 0xFFFF, u"STATIC", u"Type:"},
      Item{text, 0, 36, 38, 94, 8, kTypeText, u"STATIC", u""},
      Item{WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 20, 56, 44, 14, IDOK,
           u"BUTTON", u"Save"},
      Item{WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 72, 56, 44, 14, IDCANCEL, u"BUTTON", u"Cancel"},
  };
  return d;
}

void Print(const std::u16string& title, const std::u16string& chosen) {
  std::fprintf(stderr, "[save dialog] %s\n  -> %s\n", ToUtf8(title).c_str(),
               chosen.empty() ? "Cancel" : ToUtf8(chosen).c_str());
  std::fflush(stderr);
}

}  // namespace
}  // namespace handheld::detail

using namespace handheld::detail;

BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn) {
  last_error = 0;
  if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0 ||
      (ofn->hwndOwner && !IsWindow(ofn->hwndOwner))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Session session{ofn, NormalFolder(ofn->lpstrInitialDir), {}};
  const std::u16string title = ofn->lpstrTitle ? ofn->lpstrTitle : u"Save As";
  {  // the handheld has its folders
    std::error_code ignored;
    std::filesystem::create_directories(handheld::HostPath(session.folder), ignored);
  }
  const std::u16string offered(ofn->lpstrFile,
                               std::find(ofn->lpstrFile, ofn->lpstrFile + ofn->nMaxFile, 0));
  if (std::optional<ScriptedAnswers::Answer> scripted = ScriptedAnswers::NextSave()) {
    if (scripted->button != IDCANCEL) {
      std::optional<std::u16string> path = FullPath(
          scripted->button == 0 ? scripted->path : offered, session.folder, ofn->lpstrDefExt);
      if (path && MayReplace(ofn->hwndOwner, *path, ofn->Flags)) session.chosen = *path;
    }
  } else if (ScreenMessageBox::Wanted()) {
    Session* outer = std::exchange(current, &session);
    HWND dialog = nullptr;
    const Status status = DialogBox::Create(SaveDialog(title), ofn->hInstance, ofn->hwndOwner,
                                            DialogProc, 0, &dialog);
    if (status.ok()) DialogBox::RunModal(dialog, ofn->hwndOwner);
    current = outer;
  } else {  // nobody to ask: the offered name, as Enter would take it
    std::optional<std::u16string> path = FullPath(offered, session.folder, ofn->lpstrDefExt);
    if (path && MayReplace(ofn->hwndOwner, *path, ofn->Flags)) session.chosen = *path;
  }
  const BOOL chosen = !session.chosen.empty() && Choose(ofn, session.chosen);
  if (!ScreenMessageBox::OnDisplay()) Print(title, chosen ? session.chosen : u"");
  return chosen;
}

DWORD CommDlgExtendedError() { return last_error; }
