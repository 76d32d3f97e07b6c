// host/builtin_registry.cpp
// RegisterBuiltins: the records of the 831 registered names in their order,
// the opcode handler table, and the hooks of every layer.
#include "host/builtin_registry.h"

#include <bit>
#include <cassert>

#include "builtins/builtin_registrations.h"
#include "compiler/compile_messages.h"
#include "engine/engine_registrations.h"
#include "engine/engine_state.h"
#include "host/debugger_link.h"
#include "host/driver.h"
#include "host/profiler.h"
#include "host/run_builtins.h"
#include "runtime/registry/hooks.h"
#include "native/asm_runtime.h"
#include "native/native_registrations.h"
#include "platform/c_library.h"
#include "platform/clock.h"
#include "sound/sound_registrations.h"
#include "windows/windows_registrations.h"

namespace qob {

constexpr std::array<std::string_view, kRegisteredNameCount> kRegistrationOrder = {
    "IF", "__ELSEIF", "ELSE", "REPEAT", "UNTIL", "WHILE", "FOREACH", "FOREACHREV", "FOR", "END", "CASE",
    "RETURN", "BREAK", "CONTINUE", "__debug", "__profile", "LOCAL", "GLOBAL", "NGLOBAL", "PROTECT",
    "UNPROTECT", "STATIC", "HALT", "EXIT", "__dropfctstack", "__dropallfctstack", "__enddecl", "__enddecl2",
    "__MAKEMATRIX", "TRY", "EXCEPT", "FINALLY", "__NOEXPLICITCHECK", "ReadWrite", "ADDEVENT", "CLEAREVENTS",
    "__controltoclipboard", "QuietMode", "run", "runex", "runfile", "runfileex", "compile", "eval",
    "alloceval", "freeeval", "makeexe", "debug", "currentline", "currentfilename", "curproc", "getproc",
    "getprocex", "call", "findapp", "killapp", "freeapp", "appname", "appsize", "appbuffer", "appform",
    "appuniqueid", "asm", "doasm", "callasm", "freeasm", "=", "M=", "==", "<>", ">", "<", "<<", ">>", ">=",
    "<=", "@", "__savesp", "__savesp2", "__offset", "__offset1", "__set_push", "import", "__offsetvar",
    "countstack", "dupstack", "dropstack", "clearstack", "push", "pull", "new", "wnew", "resize", "free",
    "malloc", "memset", "ptr", "memmove", "memchr", "memcpy", "memsize", "memcmp", "sizeof", "size", "addr",
    "peek", "poke", "isnull", "mmcreate", "mmdestroy", "mmalloc", "mmfree", "clear", "struct", "restruct",
    "type", "columnmajor", "rowmajor", "dim", "sdim", "tdim", "redim", "getvar", "setvar", "varexists",
    "isvalidvar", "vartype", "vmax", "empty", "islist", "isarray", "ismatrix", "isobject", "isstruct",
    "ispointer", "mcount", "mtype", "madd", "mdel", "mmid", "__class", "__classcreate", "__class2",
    "__class3", "__class4", "newobject", "public", "private", "freeobject", "assign", "classes",
    "classinherit", "objcall", "objaddr", "class", "is", "handlemessage", "processmessages", "+", "-", "++",
    "--", "++2", "--2", "*", "/", "+=", "-=", "*=", "/=", "|=", "&=", "^=", "and", "or", "xor", "div", "mod",
    "asl", "asr", "shl", "shr", "not", "&", "|", "^", "~", "abs", "acos", "asin", "atan", "atan2", "cos",
    "cosh", "exp", "log", "log10", "pow", "rand", "random", "randomset", "sin", "sinh", "sqrt", "srand",
    "tan", "tanh", "chgsign", "hypot", "lrotl", "lrotr", "rotl", "rotr", "makelong", "makeword", "hiword",
    "loword", "hibyte", "lobyte", "hi", "lo", "ceil", "floor", "round", "roundex", "trunc", "truncex",
    "validint", "wrap", "min", "max", "list", "add", "addlist", "del", "ins", "lmove", "count", "next",
    "prev", "first", "last", "isfirst", "islast", "lpos", "goto", "lcopy", "lcopyex", "copy", "pop", "find",
    "delall", "split", "sort", "ltype", "applications", "forms", "enumwindows", "enumfontfamilies",
    "arraytolist", "listtoarray", "tlisttoarray", "strtolist", "strtolistint", "strtolistex",
    "strtolistintex", "listtostr", "structtolist", "listtostruct", "structdeftolist", "isstructdef",
    "carraytolist", "functions", "variables", "matrixtoarray", "matrixtostr", "strtomatrix", "strtoarray",
    "strtoarrayint", "strtoarrayex", "strtoarrayintex", "arraytostr", "setint", "getint", "setbyte",
    "getbyte", "setshort", "getshort", "setdouble", "getdouble", "freecarray", "fill", "isvalid", "int",
    "str", "wstr", "fstr", "mid", "concat", "%", "length", "delete", "insert", "replace", "pos", "rpos",
    "npos", "cpos", "crc16", "crc32", "hash", "isalnum", "isalpha", "iscntrl", "isdigit", "islower",
    "isprint", "ispunct", "isspace", "isupper", "chr", "wchr", "upper", "lower", "wide", "char", "evalstring",
    "apichar", "dup", "iswide", "loadstr", "wloadstr", "loadstrex", "wloadstrex", "savestr", "wsavestr",
    "extractfilename", "extractfilepath", "extractfiledrive", "extractfileext", "sprintf", "printf",
    "encrypt", "getclip", "setclip", "compress", "uncompress", "trim", "ltrim", "rtrim", "lpad", "rpad",
    "swapcase", "reverse", "capitalize", "strip", "change", "tick", "showmessage", "getfile", "putfile",
    "delay", "makelcid", "makelangid", "createthread", "reset", "showstatuswindow", "waitcursor", "_debuglog",
    "fopen", "fclose", "fread", "fwrite", "fseek", "readstring", "writestring", "ftell", "feof", "ferror",
    "fflush", "fgetpos", "fsetpos", "filesize", "fileexists", "directoryexists", "newform", "newformex",
    "newdlg", "showmodal", "newfont", "setfont", "getfont", "setfontcolor", "setbackcolor", "destroywindow",
    "showwindow", "registerclass", "unregisterclass", "setuserdata", "getuserdata", "inherited",
    "getclientrect", "centerform", "setwndproc", "newmenu", "newbutton", "newsubmenu", "newmenuitem",
    "menucaption", "mainmenu", "newmainmenu", "createacceltable", "newcontrol", "getselstart", "setselstart",
    "getsellength", "setsellength", "getseltext", "setseltext", "gettext", "settext", "gettextline",
    "wgetseltext", "wsetseltext", "wgettext", "wsettext", "wgettextline", "getitemindex", "setitemindex",
    "getitem", "setitem", "wgetitem", "wsetitem", "ptinrect", "RGB", "g_init", "g_changeresolution", "g_shut",
    "g_suspend", "g_resume", "g_state", "g_setstate", "g_setmainloop", "g_getmainloop", "g_fillrect",
    "g_drawrect", "g_circle", "g_floodfill", "g_line", "g_clear", "g_RGB", "fps", "avgfps", "avgpps",
    "showfps", "g_textout", "g_textoutex", "g_setpixel", "g_getpixel", "g_setclipping", "g_width", "g_height",
    "g_lock", "g_unlock", "g_getdc", "g_releasedc", "g_beginscene", "g_update", "g_updaterect", "g_draw",
    "g_drawfps", "g_updatefps", "g_speed", "g_autodraw", "g_mainloop", "g_mainloop2", "g_setproc", "g_proc",
    "g_setpaintproc", "g_paintproc", "waitforinput", "g_fonts", "g_loadfont", "g_freefont", "g_loadvgafont",
    "g_loadvgafontfrommem", "g_freevgafont", "g_drawtextex", "g_drawtext", "g_textwidth", "g_fontheight",
    "g_setblend", "g_cachetext", "rendersprites", "renderspritesex", "rendersprite", "loadsprite",
    "loadspritefrommem", "loadspritealpha", "loadspritealphafrommem", "setspritealphasurface",
    "spritealphasurface", "replacesprite", "setspritesurface", "setspritecolormask", "spritecolormask",
    "delsprite", "drawsprite", "movesprite", "relmovesprite", "processsprites", "spritepos", "setspritex",
    "setspritey", "spritex", "spritey", "showsprite", "spritevisible", "setspriteangle", "spriteangle",
    "setspritealpha", "spritealpha", "setspritewidth", "spritewidth", "setspriteheight", "spriteheight",
    "setspriteorder", "spriteorder", "sprites", "spriteat", "spriteatrect", "spritesat", "spritesatrect",
    "clearsprites", "setmapcolor", "mapcolor", "setspriteindex", "spriteindex", "setspriteanimspeed",
    "spriteanimspeed", "setspriteanimspeedvel", "spriteanimspeedvel", "setspritelifetime", "spritelifetime",
    "setspriteframes", "spritefirstframe", "spritelastframe", "setspriteframeloop", "spriteframeloop",
    "setspritecurrentloop", "spritecurrentloop", "setspriteproc", "spriteproc", "setspritedata", "spritedata",
    "setspritecollide", "spritecollide", "setspriteid", "spriteid", "setoriginx", "setoriginy", "originx",
    "originy", "spriteinview", "spritesurface", "clonesprite", "setspriteoffsetx", "spriteoffsetx",
    "setspriteoffsety", "spriteoffsety", "newsprite", "setspritelayer", "setspriteparent", "spriteparent",
    "clearspritechildren", "spritechildren", "spritelayer", "setspriteclip", "setlayer", "setborder",
    "collide", "rectcollide", "collides", "rectcollides", "setspriterect", "spriterect",
    "setspritecolliderect", "setspriteoptions", "addspriteoption", "delspriteoption", "spriteoptions",
    "offsetsprite", "setspritetilex", "spritetilex", "setspritetiley", "spritetiley", "setspriteautooffsetx",
    "spriteautooffsetx", "setspriteautooffsety", "spriteautooffsety", "setspriteautoscrollx",
    "spriteautoscrollx", "setspriteautoscrolly", "spriteautoscrolly", "setspriteaispeed", "spriteaispeed",
    "calcpixelcheck", "setbacksprite", "drawbacksprite", "delsprites", "setspritemap", "delmapsprites",
    "setspritealtindex", "spritealtindex", "setspritealtalpha", "spritealtalpha", "setspritealtradius",
    "spritealtradius", "spritecanmovex", "spritecanmovey", "setaispeed", "adjustspriterect", "gamecollide",
    "setcollisiongrid", "setgridcells", "cleargridcells", "delgridcells", "setspritetimer", "killspritetimer",
    "pausespritetimer", "spritetimer", "spriteframecount", "setspriteframecount", "spritedefaultwidth",
    "spritedefaultheight", "scalesprite", "setspritecolor", "spritecolor", "setmaplight", "setspritetint",
    "spritetint", "setspritetintlevel", "spritetintlevel", "setspritelight", "spritelight",
    "setspritelightradius", "spritelightradius", "issprite", "errorsprite", "getkeylist", "flushsprites",
    "setspriteisoheight", "spriteisoheight", "setisodisplay", "drawgrid", "g_drawlist", "explode",
    "setspritemass", "spritemass", "setspritegravity", "spritegravity", "setspritefriction", "spritefriction",
    "setspriteelasticity", "spriteelasticity", "setspritephysic", "setgravity", "gravity", "setfriction",
    "friction", "setspritedirection", "spritedirection", "spritevelocity", "setspritevelocity", "spriteaccel",
    "setspriteaccel", "setspritevelx", "spritevelx", "setspritevely", "spritevely", "setspritevellimits",
    "spritevellimitlow", "spritevellimithigh", "newparticle", "renderparticles", "processparticles",
    "clearparticles", "countparticles", "particles", "setparticle", "setparticlecollide", "delparticle",
    "particlex", "setparticlex", "particley", "setparticley", "particlevelx", "setparticlevelx",
    "particlevely", "setparticlevely", "particleaccx", "setparticleaccx", "particleaccy", "setparticleaccy",
    "particlecycle", "setparticlecycle", "particlemaxcycle", "setparticlemaxcycle", "particleindex",
    "setparticleindex", "particleloop", "setparticleloop", "particlesprite", "setparticlesprite",
    "particlealpha", "setparticlealpha", "particleangle", "setparticleangle", "particleoptions",
    "setparticleoptions", "gameparticles", "newpath", "setpath", "delpath", "clearpaths", "paths",
    "renderpaths", "newsurface", "freesurface", "setrendertarget", "loadsurface", "loadsurfacefrommem",
    "savesurface", "drawsurfaceex", "drawsurface", "drawsurface2", "drawsurface3", "surfacewidth",
    "surfaceheight", "setcolormask", "colormask", "copysurface", "clonesurface", "resizesurface", "distance",
    "middle", "cos256", "sin256", "cos360", "sin360", "angle", "incangle", "incanglerad", "torad", "todeg",
    "adjustxy", "pause", "toiso", "s_init", "s_shut", "loadsound", "loadsoundfrommem", "playsound",
    "pausesound", "resumesound", "stopsound", "soundstate", "volume", "setvolume", "frequency",
    "setfrequency", "pan", "setpan", "loop", "setloop", "freesound", "s_bufferlength", "CreateCOMObject",
    "FreeCOMObject", "QueryInterface", "CreateCOMObjectFrom", "GetProperty", "SetProperty", "Invoke",
    "Dispatch", "COMMethods", "COMProperties", "COMInfo", "COMObjects", "COMLoadTypeLib", "RegisterDLL",
    "ActiveX", "FreeActiveX", "SetActiveXPos", "ActiveXObject", "ActiveXEvents", "ActiveXWnd", "ActiveXDraw",
    "T", "VariantType", "ToFloat", "ToInt", "LargeInt", "ToLargeInt", "Int64", "ToInt64", "SafeArray",
    "SafeArrayDestroy", "match", "search", "subexpcount", "subexp", "soundex", "deviceserial", "deviceowner",
    "device", "openpackage", "openpackageex", "closepackage", "addfiletopackage", "addfiletopackageex",
    "deletefilefrompackage", "extractfilefrompackage", "extractfilefrompackageex", "packagefileexists",
    "packagefiles", "loadpackagefile", "wloadpackagefile", "packagechanged", "savepackage", "packagefilesize",
};

namespace {

// The position of every name in kRegistrationOrder by the hash of its
// upper-cased form, made at compile time: each row of the layer tables finds
// its place by the name hash it carries (see BuiltinRegistration), so
// start-up hashes no name. Open addressing with linear probing; an
// entry is the position plus 1 (0: empty) and the hash's top bits, which tell
// the names of one run apart (checked below for every name of the order).
class OrderIndex {
public:
    consteval OrderIndex() {
        for (int position = 0; position < kRegisteredNameCount; ++position) {
            const uint32_t hash = HashUpperCaseName(kRegistrationOrder[position]);
            uint32_t at = HomeOf(hash);
            while (entries_[at] != 0) at = (at + 1) & kMask;
            entries_[at] = (TagOf(hash) << kPositionBits) | static_cast<uint32_t>(position + 1);
        }
        for (int position = 0; position < kRegisteredNameCount; ++position)
            if (Find(HashUpperCaseName(kRegistrationOrder[position])) != position)
                throw "two names of the registration order share a hash or its tag in one run";
    }

    // Position of the name with this hash; -1 when none of the order has it.
    [[nodiscard]] constexpr int Find(uint32_t hash) const {
        for (uint32_t at = HomeOf(hash);; at = (at + 1) & kMask) {
            const uint32_t entry = entries_[at];
            if (entry == 0) return -1;
            if ((entry >> kPositionBits) == TagOf(hash)) return static_cast<int>(entry & kPositionMask) - 1;
        }
    }

private:
    static constexpr int kBits = std::bit_width(static_cast<unsigned>(kRegisteredNameCount));
    static constexpr uint32_t kMask = (uint32_t{1} << kBits) - 1;
    static_assert(kMask + 1 > kRegisteredNameCount, "an empty entry ends every run");
    static constexpr int kPositionBits = kBits;
    static constexpr uint32_t kPositionMask = kMask;
    static_assert(kRegisteredNameCount + 1 <= kPositionMask, "a position plus 1 fits its bits");

    static constexpr uint32_t HomeOf(uint32_t hash) { return (hash * 0x9E3779B1u) >> (32 - kBits); }
    static constexpr uint32_t TagOf(uint32_t hash) { return hash >> kPositionBits; }

    std::array<uint32_t, kMask + 1> entries_{};
};

constexpr OrderIndex kOrderIndex;

}  // namespace

std::vector<const BuiltinRegistration*> RowsInRegistrationOrder() {
    std::vector<const BuiltinRegistration*> rows(kRegistrationOrder.size());
    [[maybe_unused]] size_t rowCount = 0;
    for (auto table : {KeywordRegistrations(), RuntimeRegistrations(), HostRegistrations(),
                       LanguageBuiltinRegistrations(), WindowsRegistrations(), NativeRegistrations(),
                       EngineRegistrations(), SoundRegistrations()})
        for (const BuiltinRegistration& row : table) {
            const int position = kOrderIndex.Find(row.nameHash);
            assert(position >= 0 && kRegistrationOrder[position] == row.name && "a registration row is not in the order");
            assert(rows[position] == nullptr && "a name has two registration rows");
            rows[position] = &row;
            ++rowCount;
        }
    assert(rowCount == kRegistrationOrder.size() && "a name of the order has no registration row");
    return rows;
}

// Generated code reaches the debugger, the profiler and the driver here.
static void FillNativeRuntimeHooks() {
    AsmHooks.debugLineHook = DebugLineHook;
    AsmHooks.profileStamp = ProfileStamp;
    AsmHooks.runProgramFile = [](const char* path) { return CompileAndRun(path, nullptr, false, 0) != nullptr; };
}

std::vector<OpcodeRegistration> OpcodeRegistrations() {
    std::vector<OpcodeRegistration> rows;
    for (auto table : {RuntimeOpcodeRegistrations(), LanguageOpcodeRegistrations(), NativeOpcodeRegistrations()})
        rows.insert(rows.end(), table.begin(), table.end());
    return rows;
}

void RegisterBuiltins() {
    FillCompilerRuntimeHooks();
    Hooks.runFileOrSource = RunFileOrSourceEx;
    FillWindowsRuntimeHooks();
    FillEngineRuntimeHooks();
    FillNativeRuntimeHooks();
    InstallOperatorNumberRules();
    GdiFontGlyphCount = 255;
    ClearBreakpoints();
    platform::SeedRandom(platform::GetTickCount());
    const std::vector<const BuiltinRegistration*> rows = RowsInRegistrationOrder();
    for (int i = 0; i < kRegisteredNameCount; ++i) {
        [[maybe_unused]] int index = RegisterRow(i, *rows[i]);
        assert(index == i && "two registered names share a hash");
    }
    FillOpcodeHandlerTable(OpcodeRegistrations());
}

}  // namespace qob
