// builtins/files/file_builtins.h
// The whole-file built-ins: file dialogs, existence and size tests, loads and
// saves of 8-bit and UTF-16 text, and path splitting.
#pragma once

namespace qob {

// (filter, [initial directory]) in an argument frame: the chosen path, or 0
// when the dialog is cancelled. With more than two arguments the last two
// count.
void Builtin_getfile();
void Builtin_putfile();

// (path): 1 when a file or directory matches (wildcards in the last name,
// without regard to case); both built-ins make the same test.
void Builtin_fileexists();
void Builtin_directoryexists();
// (path): the size of a regular file in bytes; 0 for anything else.
void Builtin_filesize();

// (path, length variable) and (path, offset, count, length variable): the
// file's text, its bytes (or 16-bit units) from offset, -1 meaning the start
// and the whole length. The variable receives the number of units actually
// read (-1 when the file cannot be opened); the text always has count + 1
// zeroed units, so bytes past the end read as zero.
void Builtin_loadstr();
void Builtin_loadstrex();
void Builtin_wloadstr();
void Builtin_wloadstrex();
// (path, text, length): writes length bytes (16-bit units) of the text, -1
// for the whole text; a length past the text's block is cut to it.
void Builtin_savestr();
void Builtin_wsavestr();

// (path): the parts of a path; "\" and "/" both separate.
void Builtin_extractfilename();
void Builtin_extractfilepath();
void Builtin_extractfiledrive();
void Builtin_extractfileext();  // 0 when the path has no "."

}  // namespace qob
