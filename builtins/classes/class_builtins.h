// builtins/classes/class_builtins.h
// Giving variables objects (the steps the compiler emits for classes), the
// object built-ins, the kind tests of variables, and bare eval records.
#pragma once

namespace qob {

// Steps of class code. Class names are taken upper-cased; a variable argument
// is the cell's variable, else the variable its text (or number) names.
void Builtin___class();        // (class, variable): new instance owned by the variable, runs __INIT
void Builtin___classcreate();  // (variable): runs CREATE on the variable's instance (after #OBJECT)
void Builtin___class2();       // (class, variable): types the variable, no instance, nothing runs
void Builtin___class3();       // (class, object): __STACKTEMPOBJECT$ refers to the object; pushes nothing
void Builtin___class4();       // the same; also the handler of the CLASS4 opcode

// Objects.
void Builtin_newobject();      // (variable, class, address): new instance (address 0) or a reference to one
void Builtin_freeobject();     // (objects...): runs each DESTROY and frees the instance
void Builtin_assign();         // (variable, address): the variable refers to the instance there
void Builtin_class();          // (object): the instance's class name, 0 when it has none
void Builtin_is();             // (object, class): 1 when the object's class is the class or derives from it
void Builtin_classes();        // (list variable): the names of every class; their number
void Builtin_classinherit();   // (class): the base-class name, 0 for an unknown class

// Kind tests: how many arguments are objects, arrays, matrices, structures.
void Builtin_isobject();
void Builtin_isarray();
void Builtin_ismatrix();
void Builtin_isstruct();
void Builtin_ispointer();      // (value): 1 when it is a block its variable owns through a field

// Bare variable records.
void Builtin_alloceval();      // (): address of a new empty record on the context heap
void Builtin_freeeval();       // (record address): frees the record alloceval made, with its chain

}  // namespace qob
