// windows/activex/activex_builtins.h
// The ActiveX built-ins: placing a control in a window from its ProgID,
// moving, drawing and freeing it, and its automation, events and window.
#pragma once

namespace qob {

class ActiveXSite;
struct ProgramContext;

void Builtin_ActiveX();
void Builtin_SetActiveXPos();
void Builtin_FreeActiveX();
void Builtin_ActiveXObject();
void Builtin_ActiveXEvents();
void Builtin_ActiveXWnd();
void Builtin_ActiveXDraw();

// Tears a live control down: deactivated, hidden, closed and cut from its
// site; its two wrappers freed; the site's own references released. The
// site itself goes when the last reference to it does.
void FreeActiveXSite(ActiveXSite* site);
// The controls a context still holds, freed so (the context ends).
void FreeContextActiveXSites(ProgramContext* context);

}  // namespace qob
