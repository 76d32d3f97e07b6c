// windows/windows_registrations.cpp
// The rows of the start-up registration for windows, dialogs, controls, menus,
// events, COM and ActiveX, and the runtime hooks the window layer owns.
#include "windows/windows_registrations.h"

#include "runtime/registry/hooks.h"
#include "runtime/registry/placeholder_handlers.h"
#include "runtime/vm/program_context.h"
#include "windows/com/com_builtins.h"
#include "windows/com/com_object_wrapper.h"
#include "windows/dialogs.h"
#include "windows/event_calls.h"
#include "windows/event_table.h"
#include "windows/forms.h"
#include "windows/message_loop.h"
#include "windows/modal_waits.h"
#include "windows/window_classes.h"
#include "windows/window_records.h"
#include "windows/window_system.h"

namespace qob {
namespace {

// The windows of an ending context go before its variables; the classes it
// registered and the COM objects it still holds go with them.
void DestroyContextWindows(ProgramContext* context) {
    while (context->windows) DestroyWindowRecords(context, context->windows);
    RemoveContextWindowClasses(context);
    ForgetContextProcedures(context);
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
    {"showstatuswindow",         1, Nothing, Fixed,  kNotBuilt},
    {"waitcursor",               1, Nothing, Fixed,  kNotBuilt},
    {"unregisterclass",          1, Nothing, Fixed,  Builtin_unregisterclass},
    {"centerform",               1, Nothing, Fixed,  Builtin_centerform},
    {"newmainmenu",              1, Nothing, Fixed,  kNotBuilt},
    {"g_setmainloop",            1, Nothing, Fixed,  Builtin_g_setmainloop},
    {"g_mainloop",               1, Nothing, Fixed,  Builtin_g_mainloop},
    {"g_mainloop2",              1, Nothing, Fixed,  Builtin_g_mainloop2},
    {"ActiveXDraw",              1, Nothing, Fixed,  kNotBuilt},
    // 1 argument, returns a value
    {"enumwindows",              1, Value,   Fixed,  kNotBuilt},
    {"getfont",                  1, Value,   Fixed,  kNotBuilt},
    {"destroywindow",            1, Value,   Fixed,  Builtin_destroywindow},
    {"getuserdata",              1, Value,   Fixed,  Builtin_getuserdata},
    {"mainmenu",                 1, Value,   Fixed,  kNotBuilt},
    {"getselstart",              1, Value,   Fixed,  kNotBuilt},
    {"getsellength",             1, Value,   Fixed,  kNotBuilt},
    {"getseltext",               1, Value,   Fixed,  kNotBuilt},
    {"gettext",                  1, Value,   Fixed,  kNotBuilt},
    {"wgetseltext",              1, Value,   Fixed,  kNotBuilt},
    {"wgettext",                 1, Value,   Fixed,  kNotBuilt},
    {"getitemindex",             1, Value,   Fixed,  kNotBuilt},
    {"waitforinput",             1, Value,   Fixed,  Builtin_waitforinput},
    {"CreateCOMObject",          1, Value,   Fixed,  Builtin_CreateCOMObject},
    {"CreateCOMObjectFrom",      1, Value,   Fixed,  Builtin_CreateCOMObjectFrom},
    {"Dispatch",                 1, Value,   Fixed,  Builtin_Dispatch},
    {"COMLoadTypeLib",           1, Value,   Fixed,  Builtin_COMLoadTypeLib},
    {"RegisterDLL",              1, Value,   Fixed,  Builtin_RegisterDLL},
    {"ActiveXObject",            1, Value,   Fixed,  kNotBuilt},
    {"ActiveXEvents",            1, Value,   Fixed,  kNotBuilt},
    {"ActiveXWnd",               1, Value,   Fixed,  kNotBuilt},
    {"VariantType",              1, Value,   Fixed,  Builtin_VariantType},
    // 2 arguments, no value
    {"setfont",                  2, Nothing, Fixed,  kNotBuilt},
    {"setfontcolor",             2, Nothing, Fixed,  Builtin_setfontcolor},
    {"setbackcolor",             2, Nothing, Fixed,  Builtin_setbackcolor},
    {"registerclass",            2, Nothing, Fixed,  Builtin_registerclass},
    {"setuserdata",              2, Nothing, Fixed,  Builtin_setuserdata},
    {"setwndproc",               2, Nothing, Fixed,  Builtin_setwndproc},
    {"createacceltable",         2, Nothing, Fixed,  kNotBuilt},
    {"setselstart",              2, Nothing, Fixed,  kNotBuilt},
    {"setsellength",             2, Nothing, Fixed,  kNotBuilt},
    {"setseltext",               2, Nothing, Fixed,  kNotBuilt},
    {"settext",                  2, Nothing, Fixed,  kNotBuilt},
    {"wsetseltext",              2, Nothing, Fixed,  kNotBuilt},
    {"wsettext",                 2, Nothing, Fixed,  kNotBuilt},
    {"setitemindex",             2, Nothing, Fixed,  kNotBuilt},
    // 2 arguments, returns a value
    {"showwindow",               2, Value,   Fixed,  Builtin_showwindow},
    {"getclientrect",            2, Value,   Fixed,  kNotBuilt},
    {"menucaption",              2, Value,   Fixed,  kNotBuilt},
    {"gettextline",              2, Value,   Fixed,  kNotBuilt},
    {"wgettextline",             2, Value,   Fixed,  kNotBuilt},
    {"getitem",                  2, Value,   Fixed,  kNotBuilt},
    {"wgetitem",                 2, Value,   Fixed,  kNotBuilt},
    {"QueryInterface",           2, Value,   Fixed,  Builtin_QueryInterface},
    {"COMMethods",               2, Value,   Fixed,  Builtin_COMMethods},
    {"COMProperties",            2, Value,   Fixed,  Builtin_COMProperties},
    {"COMObjects",               2, Value,   Fixed,  Builtin_COMObjects},
    {"T",                        2, Value,   Fixed,  Builtin_T},
    // 3 arguments, no value
    {"setitem",                  3, Nothing, Fixed,  kNotBuilt},
    {"wsetitem",                 3, Nothing, Fixed,  kNotBuilt},
    // 3 arguments, returns a value
    {"enumfontfamilies",         3, Value,   Fixed,  kNotBuilt},
    {"newform",                  3, Value,   Fixed,  Builtin_newform},
    {"showmodal",                3, Value,   Fixed,  Builtin_showmodal},
    {"newmenu",                  3, Value,   Fixed,  kNotBuilt},
    // 4 arguments, no value
    {"ADDEVENT",                 4, Nothing, Fixed,  Builtin_ADDEVENT},
    {"newbutton",                4, Nothing, Fixed,  kNotBuilt},
    {"COMInfo",                  4, Nothing, Fixed,  Builtin_COMInfo},
    // 4 arguments, returns a value
    {"inherited",                4, Value,   Fixed,  Builtin_inherited},
    {"newsubmenu",               4, Value,   Fixed,  kNotBuilt},
    {"newmenuitem",              4, Value,   Fixed,  kNotBuilt},
    // 5 arguments, no value
    {"SetActiveXPos",            5, Nothing, Fixed,  kNotBuilt},
    // 5 arguments, returns a value
    {"newdlg",                   5, Value,   Fixed,  Builtin_newdlg},
    // 6 arguments, returns a value
    {"newfont",                  6, Value,   Fixed,  kNotBuilt},
    // 7 arguments, returns a value
    {"ActiveX",                  7, Value,   Fixed,  kNotBuilt},
    // 9 arguments, returns a value
    {"newformex",                9, Value,   Fixed,  Builtin_newformex},
    // 10 arguments, returns a value
    {"newcontrol",              10, Value,   Fixed,  kNotBuilt},
    // any number of arguments, argument frame, no value
    {"FreeCOMObject",            0, Nothing, Framed, Builtin_FreeCOMObject},
    {"FreeActiveX",              0, Nothing, Framed, kNotBuilt},
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
