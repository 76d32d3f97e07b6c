// windows/windows_registrations.cpp
// The rows of the start-up registration for windows, dialogs, controls, menus,
// events, COM and ActiveX, and the runtime hooks the window layer owns.
#include "windows/windows_registrations.h"

#include "runtime/registry/hooks.h"
#include "runtime/registry/placeholder_handlers.h"
#include "runtime/vm/program_context.h"
#include "windows/activex/activex_builtins.h"
#include "windows/com/com_builtins.h"
#include "windows/com/com_object_wrapper.h"
#include "windows/control_calls.h"
#include "windows/dialogs.h"
#include "windows/event_calls.h"
#include "windows/event_table.h"
#include "windows/forms.h"
#include "windows/menus.h"
#include "windows/message_loop.h"
#include "windows/modal_waits.h"
#include "windows/new_control.h"
#include "windows/window_classes.h"
#include "windows/window_records.h"
#include "windows/window_system.h"

namespace qob {
namespace {

// The windows of an ending context go before its variables; the classes it
// registered and the COM objects it still holds go with them. Its ActiveX
// controls go first, while their parent windows still stand: no control
// event can reach the context's code after it.
void DestroyContextWindows(ProgramContext* context) {
    FreeContextActiveXSites(context);
    ClearProceduresSuppliedBy(context);
    while (context->windows) DestroyWindowRecords(context, context->windows);
    RemoveContextWindowClasses(context);
    ReleaseContextComObjects(context);
}

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kWindowsBuiltins[] = {
    // name                    args returns   arity   handler
    // 0 arguments, no value
    {"handlemessage",            0, Nothing, Fixed,  Builtin_handlemessage},
    {"processmessages",          0, Nothing, Fixed,  Builtin_processmessages},
    // 0 arguments, returns a value
    {"g_getmainloop",            0, Value,   Fixed,  Builtin_g_getmainloop},
    // 1 argument, no value
    {"CLEAREVENTS",              1, Nothing, Fixed,  Builtin_CLEAREVENTS},
    {"__controltoclipboard",     1, Nothing, Fixed,  Builtin___controltoclipboard},
    {"delay",                    1, Nothing, Fixed,  Builtin_delay},
    {"showstatuswindow",         1, Nothing, Fixed,  Builtin_showstatuswindow},
    {"waitcursor",               1, Nothing, Fixed,  Builtin_waitcursor},
    {"unregisterclass",          1, Nothing, Fixed,  Builtin_unregisterclass},
    {"centerform",               1, Nothing, Fixed,  Builtin_centerform},
    {"newmainmenu",              1, Nothing, Fixed,  Builtin_newmainmenu},
    {"g_setmainloop",            1, Nothing, Fixed,  Builtin_g_setmainloop},
    {"g_mainloop",               1, Nothing, Fixed,  Builtin_g_mainloop},
    {"g_mainloop2",              1, Nothing, Fixed,  Builtin_g_mainloop2},
    {"ActiveXDraw",              1, Nothing, Fixed,  Builtin_ActiveXDraw},
    // 1 argument, returns a value
    {"enumwindows",              1, Value,   Fixed,  Builtin_enumwindows},
    {"getfont",                  1, Value,   Fixed,  Builtin_getfont},
    {"destroywindow",            1, Value,   Fixed,  Builtin_destroywindow},
    {"getuserdata",              1, Value,   Fixed,  Builtin_getuserdata},
    {"mainmenu",                 1, Value,   Fixed,  Builtin_mainmenu},
    {"getselstart",              1, Value,   Fixed,  Builtin_getselstart},
    {"getsellength",             1, Value,   Fixed,  Builtin_getsellength},
    {"getseltext",               1, Value,   Fixed,  Builtin_getseltext},
    {"gettext",                  1, Value,   Fixed,  Builtin_gettext},
    {"wgetseltext",              1, Value,   Fixed,  Builtin_wgetseltext},
    {"wgettext",                 1, Value,   Fixed,  Builtin_wgettext},
    {"getitemindex",             1, Value,   Fixed,  Builtin_getitemindex},
    {"waitforinput",             1, Value,   Fixed,  Builtin_waitforinput},
    {"CreateCOMObject",          1, Value,   Fixed,  Builtin_CreateCOMObject},
    {"CreateCOMObjectFrom",      1, Value,   Fixed,  Builtin_CreateCOMObjectFrom},
    {"Dispatch",                 1, Value,   Fixed,  Builtin_Dispatch},
    {"COMLoadTypeLib",           1, Value,   Fixed,  Builtin_COMLoadTypeLib},
    {"RegisterDLL",              1, Value,   Fixed,  Builtin_RegisterDLL},
    {"ActiveXObject",            1, Value,   Fixed,  Builtin_ActiveXObject},
    {"ActiveXEvents",            1, Value,   Fixed,  Builtin_ActiveXEvents},
    {"ActiveXWnd",               1, Value,   Fixed,  Builtin_ActiveXWnd},
    {"VariantType",              1, Value,   Fixed,  Builtin_VariantType},
    // 2 arguments, no value
    {"setfont",                  2, Nothing, Fixed,  Builtin_setfont},
    {"setfontcolor",             2, Nothing, Fixed,  Builtin_setfontcolor},
    {"setbackcolor",             2, Nothing, Fixed,  Builtin_setbackcolor},
    {"registerclass",            2, Nothing, Fixed,  Builtin_registerclass},
    {"setuserdata",              2, Nothing, Fixed,  Builtin_setuserdata},
    {"setwndproc",               2, Nothing, Fixed,  Builtin_setwndproc},
    {"createacceltable",         2, Nothing, Fixed,  Builtin_createacceltable},
    {"setselstart",              2, Nothing, Fixed,  Builtin_setselstart},
    {"setsellength",             2, Nothing, Fixed,  Builtin_setsellength},
    {"setseltext",               2, Nothing, Fixed,  Builtin_setseltext},
    {"settext",                  2, Nothing, Fixed,  Builtin_settext},
    {"wsetseltext",              2, Nothing, Fixed,  Builtin_wsetseltext},
    {"wsettext",                 2, Nothing, Fixed,  Builtin_wsettext},
    {"setitemindex",             2, Nothing, Fixed,  Builtin_setitemindex},
    // 2 arguments, returns a value
    {"showwindow",               2, Value,   Fixed,  Builtin_showwindow},
    {"getclientrect",            2, Value,   Fixed,  Builtin_getclientrect},
    {"menucaption",              2, Value,   Fixed,  Builtin_menucaption},
    {"gettextline",              2, Value,   Fixed,  Builtin_gettextline},
    {"wgettextline",             2, Value,   Fixed,  Builtin_wgettextline},
    {"getitem",                  2, Value,   Fixed,  Builtin_getitem},
    {"wgetitem",                 2, Value,   Fixed,  Builtin_wgetitem},
    {"QueryInterface",           2, Value,   Fixed,  Builtin_QueryInterface},
    {"COMMethods",               2, Value,   Fixed,  Builtin_COMMethods},
    {"COMProperties",            2, Value,   Fixed,  Builtin_COMProperties},
    {"COMObjects",               2, Value,   Fixed,  Builtin_COMObjects},
    {"T",                        2, Value,   Fixed,  Builtin_T},
    // 3 arguments, no value
    {"setitem",                  3, Nothing, Fixed,  Builtin_setitem},
    {"wsetitem",                 3, Nothing, Fixed,  Builtin_wsetitem},
    // 3 arguments, returns a value
    {"enumfontfamilies",         3, Value,   Fixed,  Builtin_enumfontfamilies},
    {"newform",                  3, Value,   Fixed,  Builtin_newform},
    {"showmodal",                3, Value,   Fixed,  Builtin_showmodal},
    {"newmenu",                  3, Value,   Fixed,  Builtin_newmenu},
    // 4 arguments, no value
    {"ADDEVENT",                 4, Nothing, Fixed,  Builtin_ADDEVENT},
    {"newbutton",                4, Nothing, Fixed,  Builtin_newbutton},
    {"COMInfo",                  4, Nothing, Fixed,  Builtin_COMInfo},
    // 4 arguments, returns a value
    {"inherited",                4, Value,   Fixed,  Builtin_inherited},
    {"newsubmenu",               4, Value,   Fixed,  Builtin_newsubmenu},
    {"newmenuitem",              4, Value,   Fixed,  Builtin_newmenuitem},
    // 5 arguments, no value
    {"SetActiveXPos",            5, Nothing, Fixed,  Builtin_SetActiveXPos},
    // 5 arguments, returns a value
    {"newdlg",                   5, Value,   Fixed,  Builtin_newdlg},
    // 6 arguments, returns a value
    {"newfont",                  6, Value,   Fixed,  Builtin_newfont},
    // 7 arguments, returns a value
    {"ActiveX",                  7, Value,   Fixed,  Builtin_ActiveX},
    // 9 arguments, returns a value
    {"newformex",                9, Value,   Fixed,  Builtin_newformex},
    // 10 arguments, returns a value
    {"newcontrol",              10, Value,   Fixed,  Builtin_newcontrol},
    // any number of arguments, argument frame, no value
    {"FreeCOMObject",            0, Nothing, Framed, Builtin_FreeCOMObject},
    {"FreeActiveX",              0, Nothing, Framed, Builtin_FreeActiveX},
    {"SafeArrayDestroy",         0, Nothing, Framed, Builtin_SafeArrayDestroy},
    // any number of arguments, argument frame, returns a value
    {"GetProperty",              0, Value,   Framed, Builtin_GetProperty},
    {"SetProperty",              0, Value,   Framed, Builtin_SetProperty},
    {"Invoke",                   0, Value,   Framed, Builtin_Invoke},
    {"SafeArray",                0, Value,   Framed, Builtin_SafeArray},
};

}  // namespace

std::span<const BuiltinRegistration> WindowsRegistrations() {
    return kWindowsBuiltins;
}

void FillWindowsRuntimeHooks() {
    Hooks.destroyContextWindows = DestroyContextWindows;
    Hooks.removeContextEvents = RemoveOwnerEvents;
    Hooks.suspendWindowEvents = SuspendWindowEvents;
    Hooks.resumeWindowEvents = ResumeWindowEvents;
    Hooks.visitContextWindows = VisitContextWindows;
    InstallWindowManagerWaits();
}

}  // namespace qob
