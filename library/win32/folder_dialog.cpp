// Windows: the folder picker. A tree of the shell's folders, rooted at the
// desktop, whose children are read when a folder is first expanded; its two
// buttons forward to TSetFolderForm.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "library/folder_form.h"
#include "library/win32/views.h"

namespace pw {

namespace {

namespace id = folder_id;

constexpr int kWidth = 517, kHeight = 318;  // the window's outer size
constexpr int kPanel1Height = 37, kPanel2Width = 171;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

// A folder of the tree: its item id list from the desktop.
struct Node {
  PIDLIST_ABSOLUTE pidl = nullptr;
  bool loaded = false;
};

// The first item id of \p pidl alone.
PIDLIST_RELATIVE CloneFirst(PCUIDLIST_RELATIVE pidl) {
  const USHORT cb = pidl->mkid.cb;
  auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(cb + sizeof(USHORT)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, pidl, cb);
  std::memset(copy + cb, 0, sizeof(USHORT));
  return reinterpret_cast<PIDLIST_RELATIVE>(copy);
}

// An interface pointer released at the end of its scope.
template <class T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p != nullptr) p->Release();
  }
  T* operator->() const { return p; }
};

class FolderDialog {
 public:
  FolderDialog(FolderChoice& choice, const std::string& settingsFolder, const Alerts& alerts)
      : form_(choice, settingsFolder, alerts) {}

  void Run(HWND owner) {
    form_.FormCreate();
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SHGetDesktopFolder(&desktop_.p);
    Create(owner);
    Fill();
    SetFocus(tree_);
    RunModal(hwnd_, owner, [this] { return form_.Closed; });
    DestroyWindow(hwnd_);  // frees the nodes through TVN_DELETEITEM
    if (desktop_.p != nullptr) desktop_.p->Release();
    desktop_.p = nullptr;
    if (SUCCEEDED(com)) CoUninitialize();
  }

 private:
  static const wchar_t* Class() {
    static const wchar_t* name = RegisterWindowClass(L"TSetFolderForm", FolderDialog::Proc);
    return name;
  }

  void Create(HWND owner) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    CreateWindowExW(kExStyle, Class(), Wide(form_.Caption).c_str(), kStyle, 0, 0, kWidth, kHeight,
                    IsWindow(owner) ? owner : nullptr, nullptr, ThisModule(), this);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
    tree_ =
        MakeChild(hwnd_, WC_TREEVIEWW, L"", TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS | WS_TABSTOP | WS_GROUP,
                  0, 0, 0, 0, id::ShellTreeView1, FormFont(), WS_EX_CLIENTEDGE);
    SendMessageW(tree_, TVM_SETINDENT, 19, 0);
    SHFILEINFOW info{};
    const auto images = SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    if (images != 0) SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, static_cast<LPARAM>(images));
    panel1_ = MakePanel(hwnd_, PanelKind::Face, L"", 0, 0, 0, 0, id::Panel1);
    panel2_ = MakePanel(panel1_, PanelKind::Face, L"", 0, 0, kPanel2Width, kPanel1Height, id::Panel2);
    ok_ = MakeChild(panel2_, L"BUTTON", Wide(folder_text::kOkButton), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 16, 8, 65,
                    25, id::OkButton, FormFont());
    cancel_ = MakeChild(panel2_, L"BUTTON", Wide(folder_text::kCancellButton), BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP,
                        96, 8, 65, 25, id::CancellButton, FormFont());
    RECT r;
    GetClientRect(hwnd_, &r);
    Layout(r.right, r.bottom);
    CenterOnScreen(hwnd_);
  }

  void Layout(int w, int h) {
    MoveWindow(tree_, 0, 0, w, std::max(0, h - kPanel1Height), TRUE);
    MoveWindow(panel1_, 0, std::max(0, h - kPanel1Height), w, kPanel1Height, TRUE);
    MoveWindow(panel2_, std::max(0, w - kPanel2Width), 0, kPanel2Width, kPanel1Height, TRUE);
  }

  // The desktop, expanded, and the offered folder selected when it exists.
  void Fill() {
    if (desktop_.p == nullptr) return;
    PIDLIST_ABSOLUTE root = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(hwnd_, CSIDL_DESKTOP, &root))) return;
    HTREEITEM item = Insert(TVI_ROOT, root, true);
    Expand(item);
    if (!form_.InitialSelection.empty()) item = Reveal(item, Wide(form_.InitialSelection));
    SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    SendMessageW(tree_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
  }

  // Expands the tree from \p item down to \p path as far as it exists; returns the deepest item reached.
  HTREEITEM Reveal(HTREEITEM item, std::wstring path) {
    PIDLIST_RELATIVE target = nullptr;
    if (FAILED(desktop_->ParseDisplayName(hwnd_, nullptr, path.data(), nullptr, &target, nullptr))) return item;
    for (PCUIDLIST_RELATIVE rest = target; rest != nullptr && rest->mkid.cb != 0; rest = ILGetNext(rest)) {
      Ref<IShellFolder> folder;
      if (!Bind(NodeOf(item)->pidl, folder)) break;
      Expand(item);
      const PIDLIST_RELATIVE first = CloneFirst(rest);
      HTREEITEM found = nullptr;
      for (HTREEITEM child = TreeView_GetChild(tree_, item); child != nullptr && first != nullptr;
           child = TreeView_GetNextSibling(tree_, child)) {
        if (HRESULT_CODE(folder->CompareIDs(0, ILFindLastID(NodeOf(child)->pidl), first)) == 0) {
          found = child;
          break;
        }
      }
      CoTaskMemFree(first);
      if (found == nullptr) break;
      item = found;
    }
    CoTaskMemFree(target);
    return item;
  }

  bool Bind(PCIDLIST_ABSOLUTE pidl, Ref<IShellFolder>& folder) {
    if (pidl->mkid.cb == 0) {
      desktop_->AddRef();
      folder.p = desktop_.p;
      return true;
    }
    return SUCCEEDED(desktop_->BindToObject(pidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder.p)));
  }

  Node* NodeOf(HTREEITEM item) const {
    TVITEMW tv{};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return reinterpret_cast<Node*>(tv.lParam);
  }

  // Adds the folder \p pidl (taken over) below \p parent.
  HTREEITEM Insert(HTREEITEM parent, PIDLIST_ABSOLUTE pidl, bool hasChildren) {
    SHFILEINFOW info{};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof info,
                   SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    SHFILEINFOW open{};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &open, sizeof open,
                   SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON);
    TVINSERTSTRUCTW ins{};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
    ins.item.pszText = info.szDisplayName;
    ins.item.iImage = info.iIcon;
    ins.item.iSelectedImage = open.iIcon;
    ins.item.cChildren = hasChildren ? 1 : 0;
    ins.item.lParam = reinterpret_cast<LPARAM>(new Node{pidl});
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
  }

  // Reads the subfolders of \p item the first time.
  void Load(HTREEITEM item) {
    Node* node = NodeOf(item);
    if (node == nullptr || node->loaded) return;
    node->loaded = true;
    Ref<IShellFolder> folder;
    Ref<IEnumIDList> list;
    if (!Bind(node->pidl, folder) || folder->EnumObjects(hwnd_, SHCONTF_FOLDERS, &list.p) != S_OK) {
      SetHasChildren(item, false);
      return;
    }
    bool any = false;
    PITEMID_CHILD child = nullptr;
    while (list->Next(1, &child, nullptr) == S_OK) {
      SFGAOF attributes = SFGAO_HASSUBFOLDER;
      PCUITEMID_CHILD one = child;
      if (FAILED(folder->GetAttributesOf(1, &one, &attributes))) attributes = 0;
      const PIDLIST_ABSOLUTE pidl = ILCombine(node->pidl, child);
      CoTaskMemFree(child);
      if (pidl == nullptr) continue;
      Insert(item, pidl, (attributes & SFGAO_HASSUBFOLDER) != 0);
      any = true;
    }
    if (!any) {
      SetHasChildren(item, false);
      return;
    }
    TVSORTCB sort{item, &FolderDialog::Compare, reinterpret_cast<LPARAM>(folder.p)};
    SendMessageW(tree_, TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
  }

  static int CALLBACK Compare(LPARAM a, LPARAM b, LPARAM folder) {
    const HRESULT hr = reinterpret_cast<IShellFolder*>(folder)->CompareIDs(
        0, ILFindLastID(reinterpret_cast<Node*>(a)->pidl), ILFindLastID(reinterpret_cast<Node*>(b)->pidl));
    return static_cast<short>(HRESULT_CODE(hr));
  }

  void SetHasChildren(HTREEITEM item, bool has) {
    TVITEMW tv{};
    tv.mask = TVIF_CHILDREN;
    tv.hItem = item;
    tv.cChildren = has ? 1 : 0;
    SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
  }

  void Expand(HTREEITEM item) {
    Load(item);
    SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
  }

  // The file-system path of the selected folder; empty for none or a folder without one.
  std::string SelectedPath() const {
    const auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
    const Node* node = item != nullptr ? NodeOf(item) : nullptr;
    wchar_t path[MAX_PATH] = {};
    if (node == nullptr || !SHGetPathFromIDListW(node->pidl, path)) return {};
    return Utf8(path);
  }

  LRESULT Notify(const NMHDR& nm) {
    if (nm.hwndFrom != tree_) return 0;
    switch (nm.code) {
      case TVN_ITEMEXPANDINGW: {
        const auto& tv = reinterpret_cast<const NMTREEVIEWW&>(nm);
        if ((tv.action & TVE_EXPAND) != 0) Load(tv.itemNew.hItem);
        return 0;
      }
      case TVN_DELETEITEMW: {
        auto* node = reinterpret_cast<Node*>(reinterpret_cast<const NMTREEVIEWW&>(nm).itemOld.lParam);
        if (node != nullptr) CoTaskMemFree(node->pidl);
        delete node;
        return 0;
      }
      case NM_RCLICK: {
        // A right click selects the folder under the mouse.
        TVHITTESTINFO hit{};
        const DWORD pos = GetMessagePos();
        hit.pt = {GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
        ScreenToClient(tree_, &hit.pt);
        const auto item =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (item != nullptr && (hit.flags & TVHT_ONITEM) != 0)
          SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        return 0;
      }
      default:
        return 0;
    }
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_SIZE:
        if (tree_ != nullptr) Layout(LOWORD(lp), HIWORD(lp));
        return 0;
      case WM_NOTIFY:
        return Notify(*reinterpret_cast<const NMHDR*>(lp));
      case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == id::OkButton)
          form_.OkButtonClick(SelectedPath());
        else if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) == id::CancellButton)
          form_.CancellButtonClick();
        if (form_.Closed) PostMessageW(hwnd_, WM_NULL, 0, 0);
        return 0;
      case WM_CLOSE:
        // Alt+F4: closed with the folder as offered.
        form_.Closed = true;
        PostMessageW(hwnd_, WM_NULL, 0, 0);
        return 0;
      case WM_SETCURSOR:
        if (HandCursorOver(wp, {ok_, cancel_})) return TRUE;
        break;
      default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
  }

  friend LRESULT CALLBACK ObjectWindowProc<FolderDialog>(HWND, UINT, WPARAM, LPARAM);
  static constexpr WNDPROC Proc = &ObjectWindowProc<FolderDialog>;

  TSetFolderForm form_;
  Ref<IShellFolder> desktop_;
  HWND hwnd_ = nullptr, tree_ = nullptr, panel1_ = nullptr, panel2_ = nullptr, ok_ = nullptr, cancel_ = nullptr;
};

}  // namespace

void RunFolderDialog(FolderChoice& choice, const std::string& settingsFolder, const Alerts& alerts, HWND owner) {
  FolderDialog(choice, settingsFolder, alerts).Run(owner);
}

}  // namespace pw
