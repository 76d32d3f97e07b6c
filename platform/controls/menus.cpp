// platform/controls/menus.cpp
// Menus as handles of the handle table, and the open menus: a stack of
// topmost pop-up windows, the deepest holding the stylus capture.

#include "platform/controls/menus.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/gdi.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {

namespace {

struct MenuItem {
    UINT flags = 0;       // MF_SEPARATOR, MF_POPUP, MF_GRAYED, MF_DISABLED
    uintptr_t id = 0;     // the command; a submenu item's is its submenu's handle
    HMENU submenu = 0;
    std::u16string text;
};

struct Menu {
    std::vector<MenuItem> items;
};

// Every live menu. Never destroyed: a handle met at exit still finds its record.
std::unordered_map<HMENU, std::unique_ptr<Menu>>& Menus() {
    static auto* menus = new std::unordered_map<HMENU, std::unique_ptr<Menu>>;
    return *menus;
}

Menu* FindMenu(HMENU handle) {
    if (!HandleObject(handle, HandleKind::Menu)) return nullptr;
    auto found = Menus().find(handle);
    return found == Menus().end() ? nullptr : found->second.get();
}

// Nesting deeper than this is not searched (menus cannot hold themselves,
// but a chain of submenus could still be long).
constexpr int kMaxMenuDepth = 64;

// Whether the menu is the other one or holds it somewhere below.
bool Holds(HMENU menu, HMENU other, int depth = 0) {
    if (menu == other) return true;
    const Menu* record = FindMenu(menu);
    if (!record || depth > kMaxMenuDepth) return false;
    for (const MenuItem& item : record->items)
        if (item.submenu && Holds(item.submenu, other, depth + 1)) return true;
    return false;
}

// The menu and position of the item with the command id: the menu's own
// items first, then its submenus depth first.
bool FindByCommand(HMENU menu, uintptr_t command, HMENU* holder, size_t* position, int depth = 0) {
    Menu* record = FindMenu(menu);
    if (!record || depth > kMaxMenuDepth) return false;
    for (size_t i = 0; i < record->items.size(); ++i)
        if (record->items[i].id == command) {
            *holder = menu;
            *position = i;
            return true;
        }
    for (const MenuItem& item : record->items)
        if (item.submenu && FindByCommand(item.submenu, command, holder, position, depth + 1)) return true;
    return false;
}

// An item from the flags, or nothing when they name a submenu that cannot be one.
bool MakeItem(HMENU menu, UINT flags, uintptr_t idOrSubmenu, const char16_t* text, MenuItem* item) {
    item->flags = flags & (MF_SEPARATOR | MF_POPUP | MF_GRAYED | MF_DISABLED);
    item->id = idOrSubmenu;
    if (flags & MF_POPUP) {
        const HMENU submenu = idOrSubmenu;
        if (!FindMenu(submenu) || Holds(submenu, menu)) return false;
        item->submenu = submenu;
    }
    if (!(flags & MF_SEPARATOR) && text) item->text = text;
    return true;
}

void DestroyMenuTree(HMENU menu, int depth) {
    auto found = Menus().find(menu);
    if (found == Menus().end()) return;
    std::unique_ptr<Menu> record = std::move(found->second);
    Menus().erase(found);
    FreeHandle(menu);
    if (depth > kMaxMenuDepth) return;
    for (const MenuItem& item : record->items)
        if (item.submenu) DestroyMenuTree(item.submenu, depth + 1);
}

// --- open menus ------------------------------------------------------------------------

constexpr const char16_t* kMenuClassName = u"MenuPopup";

struct MenuLevel {
    HMENU menu = 0;
    HWND window = 0;
    int openedItem = -1;  // the submenu item whose submenu is the next level
};

struct OpenMenus {
    std::vector<MenuLevel> levels;  // the first opened first
    HWND owner = 0;
    bool closeOnRelease = false;  // a press fell outside: the release closes
    int pressedLevel = -1;
    int pressedItem = -1;
    bool closing = false;
};

OpenMenus gOpen;

int32_t ItemHeight(const MenuItem& item) {
    return (item.flags & MF_SEPARATOR) ? kMenuSeparatorHeight : kMenuItemHeight;
}

// The item's rectangle in the menu window.
RECT ItemRect(const Menu& menu, size_t index, int32_t width) {
    int32_t top = kMenuFrame;
    for (size_t i = 0; i < index; ++i) top += ItemHeight(menu.items[i]);
    return RECT{kMenuFrame, top, width - kMenuFrame, top + ItemHeight(menu.items[index])};
}

int ItemAt(const Menu& menu, POINT point, int32_t width) {
    for (size_t i = 0; i < menu.items.size(); ++i) {
        const RECT rect = ItemRect(menu, i, width);
        if (point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom)
            return static_cast<int>(i);
    }
    return -1;
}

bool IsChoosable(const MenuItem& item) { return !(item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)); }

// The open level whose window holds the screen point, deepest first; -1 when none.
int LevelAt(POINT screen) {
    for (int i = static_cast<int>(gOpen.levels.size()) - 1; i >= 0; --i) {
        RECT rect{};
        if (GetWindowRect(gOpen.levels[static_cast<size_t>(i)].window, &rect) && wm::Contains(rect, screen)) return i;
    }
    return -1;
}

// Closes the levels from the given one on (their windows destroyed), and
// gives the capture to the deepest level left.
void CloseLevelsFrom(size_t first) {
    if (first >= gOpen.levels.size()) return;
    std::vector<HWND> windows;
    for (size_t i = first; i < gOpen.levels.size(); ++i) windows.push_back(gOpen.levels[i].window);
    gOpen.levels.resize(first);
    if (!gOpen.levels.empty()) {
        MenuLevel& last = gOpen.levels.back();
        if (last.openedItem >= 0) InvalidateRect(last.window, nullptr, true);
        last.openedItem = -1;
        SetCapture(last.window);
    }
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) DestroyWindow(*it);
    if (gOpen.levels.empty()) {
        gOpen.owner = 0;
        gOpen.closeOnRelease = false;
    }
}

void DrawArrow(HDC dc, const RECT& item, COLORREF colour) {
    const HPEN pen = CreatePen(PS_SOLID, 1, colour);
    const HGDIOBJ old = SelectObject(dc, pen);
    const int32_t x = item.right - kMenuArrowRoom + 2;
    const int32_t middle = (item.top + item.bottom) / 2;
    for (int32_t i = 0; i < 4; ++i) {
        MoveToEx(dc, x + i, middle - 3 + i, nullptr);
        LineTo(dc, x + i, middle + 4 - i);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
}

void PaintMenu(HWND window, const MenuLevel* level) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    const Menu* menu = level ? FindMenu(level->menu) : nullptr;
    if (dc && menu) {
        RECT client{};
        GetClientRect(window, &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_MENU));
        FrameRect(dc, &client, GetSysColorBrush(COLOR_WINDOWFRAME));
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        SetBkMode(dc, TRANSPARENT);
        for (size_t i = 0; i < menu->items.size(); ++i) {
            const MenuItem& item = menu->items[i];
            const RECT rect = ItemRect(*menu, i, client.right);
            if (item.flags & MF_SEPARATOR) {
                const int32_t middle = (rect.top + rect.bottom) / 2;
                const RECT line{rect.left + 1, middle, rect.right - 1, middle + 1};
                FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
                continue;
            }
            const bool opened = level->openedItem == static_cast<int>(i);
            if (opened) FillRect(dc, &rect, GetSysColorBrush(COLOR_HIGHLIGHT));
            const int textColour = opened ? COLOR_HIGHLIGHTTEXT : IsChoosable(item) ? COLOR_MENUTEXT : COLOR_GRAYTEXT;
            SetTextColor(dc, SYS_COLOR_INDEX_FLAG | textColour);
            RECT textRect{rect.left + kMenuTextIndent, rect.top, rect.right - kMenuTextIndent, rect.bottom};
            DrawTextW(dc, item.text.c_str(), static_cast<int>(item.text.size()), &textRect,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            if (item.submenu) DrawArrow(dc, rect, GetSysColor(textColour));
        }
    }
    EndPaint(window, &paint);
}

const MenuLevel* LevelOfWindow(HWND window) {
    for (const MenuLevel& level : gOpen.levels)
        if (level.window == window) return &level;
    return nullptr;
}

bool OpenMenuLevel(HMENU menu, POINT at, MenuPlacement placement, bool besideParent);

// A press: outside every open menu it closes them on its release; on a
// submenu item it opens the submenu beside the item.
void Press(POINT screen) {
    gOpen.pressedLevel = LevelAt(screen);
    gOpen.pressedItem = -1;
    if (gOpen.pressedLevel < 0) {
        gOpen.closeOnRelease = true;
        return;
    }
    MenuLevel& level = gOpen.levels[static_cast<size_t>(gOpen.pressedLevel)];
    const Menu* menu = FindMenu(level.menu);
    RECT windowRect{};
    if (!menu || !GetWindowRect(level.window, &windowRect)) return;
    const int32_t width = windowRect.right - windowRect.left;
    const int item = ItemAt(*menu, POINT{screen.x - windowRect.left, screen.y - windowRect.top}, width);
    gOpen.pressedItem = item;
    if (item < 0) return;
    const MenuItem& chosen = menu->items[static_cast<size_t>(item)];
    if (!chosen.submenu || !IsChoosable(chosen) || level.openedItem == item) return;
    const HMENU submenu = chosen.submenu;
    const RECT itemRect = ItemRect(*menu, static_cast<size_t>(item), width);
    const size_t pressedLevel = static_cast<size_t>(gOpen.pressedLevel);
    CloseLevelsFrom(pressedLevel + 1);
    const POINT beside{windowRect.right, windowRect.top + itemRect.top - kMenuFrame};
    if (!OpenMenuLevel(submenu, beside, MenuPlacement::BelowRight, true)) return;
    gOpen.levels[pressedLevel].openedItem = item;
    InvalidateRect(gOpen.levels[pressedLevel].window, nullptr, true);
}

// A release on the string item that was pressed chooses it; after a press
// outside, the release closes every open menu.
void Release(POINT screen) {
    if (gOpen.closeOnRelease) {
        CloseOpenMenus();
        return;
    }
    const int levelIndex = LevelAt(screen);
    if (levelIndex < 0 || levelIndex != gOpen.pressedLevel) return;
    const MenuLevel& level = gOpen.levels[static_cast<size_t>(levelIndex)];
    const Menu* menu = FindMenu(level.menu);
    RECT windowRect{};
    if (!menu || !GetWindowRect(level.window, &windowRect)) return;
    const int item = ItemAt(*menu, POINT{screen.x - windowRect.left, screen.y - windowRect.top},
                            windowRect.right - windowRect.left);
    if (item < 0 || item != gOpen.pressedItem) return;
    const MenuItem& chosen = menu->items[static_cast<size_t>(item)];
    if (chosen.submenu || !IsChoosable(chosen)) return;
    const auto command = static_cast<WPARAM>(chosen.id & 0xFFFF);
    const HWND owner = gOpen.owner;
    CloseOpenMenus();
    (void)PostMessageW(owner, WM_COMMAND, command, 0);
}

POINT StylusPoint(HWND window, LPARAM lParam) {
    POINT point{static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
    ClientToScreen(window, &point);
    return point;
}

LRESULT MenuWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        PaintMenu(window, LevelOfWindow(window));
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the paint fills it
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        Press(StylusPoint(window, lParam));
        return 0;
    case WM_LBUTTONUP:
        Release(StylusPoint(window, lParam));
        return 0;
    case WM_CLOSE:
        CloseOpenMenus();
        return 0;
    case WM_DESTROY:
        // Destroyed from outside (its owner went): the levels from it on go too.
        for (size_t i = 0; i < gOpen.levels.size(); ++i)
            if (gOpen.levels[i].window == window) {
                gOpen.levels[i].window = 0;
                CloseLevelsFrom(i);
                break;
            }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool EnsureMenuClass() {
    WNDCLASSW existing;
    if (GetClassInfoW(0, kMenuClassName, &existing)) return true;
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = MenuWindowProcedure;
    windowClass.hbrBackground = GetSysColorBrush(COLOR_MENU);
    windowClass.lpszClassName = kMenuClassName;
    return RegisterClassW(&windowClass) != 0;
}

// Opens one more level. Beside a parent menu, a menu that does not fit on
// the right goes to the parent's left.
bool OpenMenuLevel(HMENU menu, POINT at, MenuPlacement placement, bool besideParent) {
    const Menu* record = FindMenu(menu);
    if (!record || record->items.empty() || !EnsureMenuClass()) return false;
    const SIZE size = MenuWindowSize(menu);
    const SIZE screen = ScreenSize();
    int32_t x = at.x;
    int32_t y = placement == MenuPlacement::AboveRight ? at.y - size.cy : at.y;
    if (besideParent && x + size.cx > screen.cx && !gOpen.levels.empty()) {
        RECT parent{};
        if (GetWindowRect(gOpen.levels.back().window, &parent)) x = parent.left - size.cx;
    }
    x = std::max(0, std::min(x, screen.cx - size.cx));
    y = std::max(0, std::min(y, screen.cy - size.cy));
    const HWND window = CreateWindowExW(WS_EX_TOPMOST, kMenuClassName, u"", WS_POPUP, x, y, size.cx, size.cy,
                                        gOpen.owner, 0, 0, nullptr);
    if (!window) return false;
    // A tap on a menu neither activates it nor takes activation from its owner,
    // and the idle policy leaves it to its owner's end.
    if (wm::Window* created = wm::Find(window)) created->shellWindow = true;
    gOpen.levels.push_back(MenuLevel{menu, window, -1});
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    SetCapture(window);
    return true;
}

}  // namespace

HMENU CreatePopupMenu() {
    auto record = std::make_unique<Menu>();
    const Handle handle = NewHandle(HandleKind::Menu, record.get());
    if (!handle) return 0;
    Menus().emplace(handle, std::move(record));
    return handle;
}

bool AppendMenuW(HMENU menu, UINT flags, uintptr_t idOrSubmenu, const char16_t* text) {
    Menu* record = FindMenu(menu);
    MenuItem item;
    if (!record || !MakeItem(menu, flags, idOrSubmenu, text, &item)) return false;
    record->items.push_back(std::move(item));
    return true;
}

bool InsertMenuW(HMENU menu, UINT position, UINT flags, uintptr_t idOrSubmenu, const char16_t* text) {
    HMENU holder = menu;
    size_t index = position;
    if (!(flags & MF_BYPOSITION) && !FindByCommand(menu, position, &holder, &index)) return false;
    Menu* record = FindMenu(holder);
    MenuItem item;
    if (!record || !MakeItem(holder, flags, idOrSubmenu, text, &item)) return false;
    index = std::min(index, record->items.size());
    record->items.insert(record->items.begin() + static_cast<ptrdiff_t>(index), std::move(item));
    return true;
}

bool GetMenuItemInfoW(HMENU menu, UINT item, bool byPosition, MENUITEMINFOW* info) {
    if (!info || info->cbSize != sizeof(MENUITEMINFOW)) return false;
    HMENU holder = menu;
    size_t index = item;
    if (!byPosition && !FindByCommand(menu, item, &holder, &index)) return false;
    const Menu* record = FindMenu(holder);
    if (!record || index >= record->items.size()) return false;
    const MenuItem& found = record->items[index];
    const bool separator = (found.flags & MF_SEPARATOR) != 0;
    if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) info->fType = separator ? MFT_SEPARATOR : MFT_STRING;
    if (info->fMask & MIIM_STATE) info->fState = (found.flags & (MF_GRAYED | MF_DISABLED)) ? MFS_GRAYED : MFS_ENABLED;
    if (info->fMask & MIIM_ID) info->wID = static_cast<UINT>(found.id);
    if (info->fMask & MIIM_SUBMENU) info->hSubMenu = found.submenu;
    const bool wantsText = (info->fMask & MIIM_STRING) || ((info->fMask & MIIM_TYPE) && !separator);
    if (wantsText) {
        const size_t length = found.text.size();
        if (info->dwTypeData && info->cch > 0) {
            const size_t copied = std::min<size_t>(length, info->cch - 1);
            std::copy_n(found.text.data(), copied, info->dwTypeData);
            info->dwTypeData[copied] = u'\0';
        }
        info->cch = static_cast<UINT>(length);
    }
    return true;
}

int GetMenuItemCount(HMENU menu) {
    const Menu* record = FindMenu(menu);
    return record ? static_cast<int>(record->items.size()) : -1;
}

bool DestroyMenu(HMENU menu) {
    if (!FindMenu(menu)) return false;
    for (size_t i = 0; i < gOpen.levels.size(); ++i)
        if (Holds(menu, gOpen.levels[i].menu)) {
            CloseLevelsFrom(i);
            break;
        }
    DestroyMenuTree(menu, 0);
    return true;
}

bool OpenPopupMenu(HMENU menu, int32_t x, int32_t y, MenuPlacement placement, HWND owner) {
    if (!FindMenu(menu) || !IsWindow(owner)) return false;
    CloseOpenMenus();
    gOpen.owner = owner;
    gOpen.closeOnRelease = false;
    gOpen.pressedLevel = gOpen.pressedItem = -1;
    if (OpenMenuLevel(menu, POINT{x, y}, placement, false)) return true;
    gOpen.owner = 0;
    return false;
}

void CloseOpenMenus() {
    if (gOpen.closing) return;
    gOpen.closing = true;
    const bool hadCapture = !gOpen.levels.empty() && GetCapture() == gOpen.levels.back().window;
    CloseLevelsFrom(0);
    if (hadCapture) ReleaseCapture();
    gOpen.closing = false;
}

HWND OpenMenuWindow(HMENU menu) {
    for (const MenuLevel& level : gOpen.levels)
        if (level.menu == menu) return level.window;
    return 0;
}

bool OpenMenuItemRect(HMENU menu, UINT commandId, RECT* rect) {
    for (auto level = gOpen.levels.rbegin(); level != gOpen.levels.rend(); ++level) {
        if (menu && level->menu != menu) continue;
        const Menu* record = FindMenu(level->menu);
        RECT windowRect{};
        if (!record || !GetWindowRect(level->window, &windowRect)) continue;
        for (size_t i = 0; i < record->items.size(); ++i) {
            if (record->items[i].id != commandId || (record->items[i].flags & MF_SEPARATOR)) continue;
            const RECT item = ItemRect(*record, i, windowRect.right - windowRect.left);
            *rect = RECT{windowRect.left + item.left, windowRect.top + item.top, windowRect.left + item.right,
                         windowRect.top + item.bottom};
            return true;
        }
    }
    return false;
}

SIZE MenuWindowSize(HMENU menu) {
    const Menu* record = FindMenu(menu);
    if (!record) return SIZE{0, 0};
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    int32_t widest = 0;
    int32_t height = 2 * kMenuFrame;
    bool anySubmenu = false;
    for (const MenuItem& item : record->items) {
        height += ItemHeight(item);
        anySubmenu = anySubmenu || item.submenu != 0;
        SIZE extent{0, 0};
        if (!item.text.empty() &&
            GetTextExtentPoint32W(dc, item.text.c_str(), static_cast<int>(item.text.size()), &extent))
            widest = std::max(widest, extent.cx);
    }
    DeleteDC(dc);
    const int32_t width = 2 * kMenuFrame + 2 * kMenuTextIndent + widest + (anySubmenu ? kMenuArrowRoom : 0);
    return SIZE{std::max(width, kMenuMinimumWidth), height};
}

void ForgetMenus() {
    gOpen = OpenMenus{};
    std::vector<HMENU> handles;
    for (const auto& entry : Menus()) handles.push_back(entry.first);
    for (HMENU handle : handles) FreeHandle(handle);
    Menus().clear();
}

}  // namespace qob::platform
