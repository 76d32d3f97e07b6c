// builtins/lists/list_conversions.h
// Values moved between lists, arrays, matrices and texts; any container
// filled from a row of values; the lists of running applications and of an
// application's windows.
#pragma once

namespace qob {

// Each pops its arguments (the rightmost first) and pushes one result, but
// freecarray, which pushes none. A list that is rebuilt is released once its
// sources are read, takes the new items and stands on its first one; the
// result is then its number of items.

void Builtin_arraytolist();   // (array, list): one item per element
// (pointer array, count, list): one item per 32-bit text address of the
// block (a copy of each text; a null address gives the item 0). A block of
// ours holds no more than its size / 4 addresses, whatever the count says.
// Addresses are 32 bits wide: an array of a native library's 64-bit pointers
// cannot be read this way.
void Builtin_carraytolist();
// (count, pointer array): frees the blocks the first count addresses name
// and writes 0 over each one freed. Only live blocks of this runtime are
// freed: anything else (a native library's own allocation, a block freed
// already) is left alone, so a second call frees nothing.
void Builtin_freecarray();
// (list, array): the items into the array, as many as it holds (an array
// without elements becomes an array of doubles, one per item), through the
// array's own element type; the number of elements written, 0 for a list
// argument that is no list. listtoarray stores a text item as text (a copy
// the array owns in an element that holds an address), tlisttoarray as the
// number it stands for.
void Builtin_listtoarray();
void Builtin_tlisttoarray();
// (array, separator, prefix, suffix): prefix + element + suffix for each
// element, the separator between them; empty for no array.
void Builtin_arraytostr();
// (matrix, array): the matrix's numbers (nested ones included) into the
// array through its element type, as many as it holds (an array without
// elements becomes one of doubles, one per number); the number written.
void Builtin_matrixtoarray();
void Builtin_matrixtostr();   // (matrix): "[1,2.5,{ab},[3,4]]"; empty for a value that is no matrix
void Builtin_strtomatrix();   // (text): the matrix that text form describes
// (target, values...), framed: the values into a structure's members, an
// array's elements, a list's items (the old items go; each value is stored
// as add stores it), a matrix's cells, or the bytes of a typed block (a text
// as its characters, a number as one byte, never past the block); the
// number of values stored.
void Builtin_fill();
void Builtin_applications();  // (list): the handles of the running applications
// (list, application): the window handles of that application; a number
// that is no running application's handle gives the empty list and 0.
void Builtin_forms();

}  // namespace qob
