// runtime/registration.cpp
// RegisterBuiltins: the records of the 831 registered names in their order, and
// the opcode handler table.
#include "runtime/registration.h"

#include <bit>
#include <cassert>

#include "builtins/bitwise_operators.h"
#include "builtins/comparison_operators.h"
#include "builtins/compound_assignment.h"
#include "builtins/increment_operators.h"
#include "builtins/typed_operators.h"
#include "engine/engine_state.h"
#include "platform/c_library.h"
#include "platform/clock.h"
#include "runtime/assignment.h"
#include "runtime/debugger_link.h"
#include "runtime/declarations.h"
#include "runtime/hash.h"
#include "runtime/placeholder_handlers.h"
#include "runtime/push_instructions.h"
#include "runtime/value_stack.h"
#include "runtime/vm.h"

namespace qob {

std::array<BuiltinHandler, kOpcodeTableSize> OpcodeHandlerTable{};

const std::array<std::string_view, kRegisteredNameCount> kRegistrationOrder = {
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

constexpr OpcodeRegistration Single(Opcode opcode, BuiltinHandler handler) {
    return {opcode, opcode, handler};
}

// Every named opcode but those of kOpcodeBuiltins, in number order. A row with
// a null handler says so; a missing row would be an opcode forgotten.
constexpr OpcodeRegistration kOpcodeHandlers[] = {
    Single(Opcode::STARTPROC, NopHandler),
    Single(Opcode::ENDPROC, Handle_ENDPROC),
    Single(Opcode::BRANCH, Handle_BRANCH),
    Single(Opcode::PUSHINT, Handle_PUSHINT),
    Single(Opcode::PUSHSTR, Handle_PUSHSTR),
    Single(Opcode::PUSHVAR, Handle_PUSHVAR),
    Single(Opcode::NGPUSHVAR, Handle_NGPUSHVAR),
    Single(Opcode::INITFOREACH, Handle_INITFOREACH),
    Single(Opcode::INITFOR, Handle_INITFOR),
    Single(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR),
    Single(Opcode::IF, ConditionalJumpHandler),
    Single(Opcode::EXPECT, PopTryHandler),
    Single(Opcode::WHILE, ConditionalJumpHandler),
    Single(Opcode::FOR, Handle_FOR),
    Single(Opcode::FOREACH, Handle_FOREACH),
    Single(Opcode::TRY, Handle_TRY),
    Single(Opcode::UNTIL, ConditionalJumpHandler),
    Single(Opcode::BREAK, Handle_BREAK),
    Single(Opcode::PUSHPROCADDR, Handle_PUSHPROCADDR),
    Single(Opcode::PULLCASE, Handle_PULLCASE),
    Single(Opcode::PUSHCASE, Handle_PUSHCASE),
    Single(Opcode::RETURN, Handle_RETURN),
    Single(Opcode::CALL, Handle_CALL),
    Single(Opcode::SELFCALL, Handle_SELFCALL),
    Single(Opcode::OBJRUN, Handle_OBJRUN),
    Single(Opcode::NPARMS, Handle_NPARMS),
    Single(Opcode::RANGEMODE, Handle_RANGEMODE),
    Single(Opcode::EXPLICITMODE, Handle_EXPLICITMODE),
    Single(Opcode::ASSIGN2, AssignOpcode),
    Single(Opcode::INTERNALCALL, nullptr),  // a built-in call node carries the built-in's own handler
    Single(Opcode::INC2, IncrementOpcode2),
    Single(Opcode::DEC2, DecrementOpcode2),
    Single(Opcode::INC4, Handle_INC4),
    Single(Opcode::DEC4, Handle_DEC4),
    Single(Opcode::OFFSET2, kNotBuilt),
    Single(Opcode::OFFSET2_1, kNotBuilt),
    Single(Opcode::PUSHINTINT, Handle_PUSHINTINT),
    Single(Opcode::PUSHINTSTR, Handle_PUSHINTSTR),
    Single(Opcode::PUSHVARINT, Handle_PUSHVARINT),
    Single(Opcode::PUSHNGVARINT, Handle_PUSHNGVARINT),
    Single(Opcode::PUSHINTCASE, Handle_PUSHINTCASE),
    Single(Opcode::PUSHINTVAR, Handle_PUSHINTVAR),
    Single(Opcode::PUSHSTRVAR, Handle_PUSHSTRVAR),
    Single(Opcode::PUSHSTRSTR, Handle_PUSHSTRSTR),
    Single(Opcode::PUSHVARSTR, Handle_PUSHVARSTR),
    Single(Opcode::PUSHNGVARSTR, Handle_PUSHNGVARSTR),
    Single(Opcode::ASSIGN3, Handle_ASSIGN3),
    Single(Opcode::ASSIGN4, Handle_ASSIGN4),
    Single(Opcode::INC3, Handle_INC3),
    Single(Opcode::DEC3, Handle_DEC3),
    Single(Opcode::ASSIGN5, Handle_ASSIGN5),
    Single(Opcode::EQ2, Handle_EQ2),
    Single(Opcode::LT2, Handle_LT2),
    Single(Opcode::GT2, Handle_GT2),
    Single(Opcode::LE2, Handle_LE2),
    Single(Opcode::GE2, Handle_GE2),
    Single(Opcode::ADD2, Handle_ADD2),
    Single(Opcode::ADD4, Handle_ADD4),
    Single(Opcode::SUB2, Handle_SUB2),
    Single(Opcode::SUB4, Handle_SUB4),
    Single(Opcode::MUL2, Handle_MUL2),
    Single(Opcode::DIV2, Handle_DIV2),
    Single(Opcode::OFFSET2_2, kNotBuilt),
    Single(Opcode::ADDR2, kNotBuilt),
    Single(Opcode::ADDASSIGN2, Handle_ADDASSIGN2),
    Single(Opcode::SUBASSIGN2, Handle_SUBASSIGN2),
    Single(Opcode::MULASSIGN2, Handle_MULASSIGN2),
    Single(Opcode::ORASSIGN2, Handle_ORASSIGN2),
    Single(Opcode::XORASSIGN2, Handle_XORASSIGN2),
    Single(Opcode::ANDASSIGN2, Handle_ANDASSIGN2),
    Single(Opcode::STARTPROCUNDEF, NopHandler),
    Single(Opcode::ELSE, nullptr),  // ELSE compiles to a BRANCH; the number stays unused
    Single(Opcode::EXCEPT, PopTryHandler),
    Single(Opcode::PUSHSTRINT, Handle_PUSHSTRINT),
    Single(Opcode::NE2, Handle_NE2),
    {Opcode::LPOS2, Opcode::GETKEYLIST2, nullptr},  // named, never run
    Single(Opcode::ADD5, Handle_ADD5),
    Single(Opcode::ADD6, Handle_ADD6),
    Single(Opcode::SUB5, Handle_SUB5),
    Single(Opcode::SUB6, Handle_SUB6),
    Single(Opcode::MUL5, Handle_MUL5),
    Single(Opcode::MUL6, Handle_MUL6),
    Single(Opcode::DIV5, Handle_DIV5),
    Single(Opcode::DIV6, Handle_DIV6),
    Single(Opcode::FIRST_OP, PatchPendingJump),
    Single(Opcode::PUSHVARVAR, Handle_PUSHVARVAR),
    Single(Opcode::PARMSPUSHVARVAR, Handle_PARMSPUSHVARVAR),
    Single(Opcode::NGPUSHVARVAR, Handle_NGPUSHVARVAR),
    {Opcode::SCALLP0, Opcode::CALLF16, kNotBuilt},  // native calls, one handler per opcode
    {Opcode::DECLARE, Opcode::C_DECLAREAPI, nullptr},  // declaration records of compiled files
    Single(Opcode::FORWARDPROC, PatchPendingJump),
    Single(Opcode::INITWHILE, Handle_INITWHILE),
    Single(Opcode::ENDLOOP, Handle_ENDLOOP),
};

constexpr OpcodeBuiltin kOpcodeBuiltins[] = {
    {Opcode::ADDR, "addr"},
    {Opcode::RUNFILE, "runfile"},
    {Opcode::CLASS4, "__class4"},
    {Opcode::DROPFCTSTACK, "__dropfctstack"},
    {Opcode::DROPALLFCTSTACK, "__dropallfctstack"},
    {Opcode::SAVESP2, "__savesp2"},
    {Opcode::SAVESP, "__savesp"},
    {Opcode::STACKDROP, "dropstack"},
};

int RegisterRow(int orderIndex, const BuiltinRegistration& row) {
    BuiltinHandler handler =
        row.handler == kNotBuilt ? BindBuiltinPlaceholder(orderIndex, row) : row.handler;
    bool returns = row.returns == Returns::Value;
    switch (row.arity) {
    case Arity::Fixed: return RegisterBuiltin(row.name, handler, row.argumentCount, returns);
    case Arity::Any: return RegisterFunctionFlagsEx(row.name, handler, true, false, returns);
    case Arity::Framed: return RegisterFunctionFlagsEx(row.name, handler, true, true, returns);
    }
    return -1;
}

void FillOpcodeHandlerTable() {
    OpcodeHandlerTable.fill(nullptr);
    for (const OpcodeRegistration& row : kOpcodeHandlers)
        for (auto opcode = static_cast<int>(row.first); opcode <= static_cast<int>(row.last); ++opcode)
            OpcodeHandlerTable[opcode] = row.handler == kNotBuilt ? OpcodePlaceholder(opcode) : row.handler;
    for (const OpcodeBuiltin& shared : kOpcodeBuiltins)
        OpcodeHandlerTable[static_cast<int>(shared.opcode)] = FunctionRecordAt(FindFunctionByName(shared.builtin))->handler;
}

}  // namespace

std::span<const OpcodeRegistration> OpcodeRegistrations() {
    return kOpcodeHandlers;
}

std::span<const OpcodeBuiltin> OpcodeBuiltins() {
    return kOpcodeBuiltins;
}

std::vector<const BuiltinRegistration*> RowsInRegistrationOrder() {
    // Every start runs this: an open table of twice the names' count, probed
    // from the name's hash, finds each row without a node per name.
    constexpr size_t kSlots = std::bit_ceil(static_cast<size_t>(kRegisteredNameCount) * 2);
    std::array<const BuiltinRegistration*, kSlots> rowsByName{};
    auto slotOf = [&](std::string_view name) {
        size_t slot = HashName(name.data(), name.size()) & (kSlots - 1);
        while (rowsByName[slot] != nullptr && rowsByName[slot]->name != name)
            slot = (slot + 1) & (kSlots - 1);
        return slot;
    };
    [[maybe_unused]] size_t rowCount = 0;
    for (auto table : {KeywordRegistrations(), RuntimeRegistrations(), LanguageBuiltinRegistrations(),
                       WindowsRegistrations(), NativeRegistrations(), EngineRegistrations(), SoundRegistrations()})
        for (const BuiltinRegistration& row : table) {
            size_t slot = slotOf(row.name);
            assert(rowsByName[slot] == nullptr && "a name has two registration rows");
            assert(++rowCount <= static_cast<size_t>(kRegisteredNameCount) && "a registration row is not in the order");
            rowsByName[slot] = &row;
        }
    assert(rowCount == kRegistrationOrder.size() && "a registration row is not in the order");
    std::vector<const BuiltinRegistration*> rows;
    rows.reserve(kRegistrationOrder.size());
    for (std::string_view name : kRegistrationOrder) {
        const BuiltinRegistration* row = rowsByName[slotOf(name)];
        assert(row != nullptr && "a name of the order has no registration row");
        rows.push_back(row);
    }
    return rows;
}

void RegisterBuiltins() {
    GdiFontGlyphCount = 255;
    ClearBreakpoints();
    platform::SeedRandom(platform::GetTickCount());
    std::vector<const BuiltinRegistration*> rows = RowsInRegistrationOrder();
    for (int i = 0; i < kRegisteredNameCount; ++i) {
        [[maybe_unused]] int index = RegisterRow(i, *rows[i]);
        assert(index == i && "two registered names share a hash");
    }
    FillOpcodeHandlerTable();
}

}  // namespace qob
