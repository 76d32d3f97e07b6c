// windows/com/com_builtins.h
// The COM built-ins: creating and freeing automation objects, properties,
// method calls, member and class lists, SAFEARRAYs and type tags.
#pragma once

namespace qob {

void Builtin_CreateCOMObject();
void Builtin_CreateCOMObjectFrom();
void Builtin_FreeCOMObject();
void Builtin_GetProperty();
void Builtin_SetProperty();
void Builtin_Invoke();
void Builtin_QueryInterface();
void Builtin_Dispatch();
void Builtin_COMLoadTypeLib();
void Builtin_RegisterDLL();
void Builtin_COMMethods();
void Builtin_COMProperties();
void Builtin_COMInfo();
void Builtin_COMObjects();
void Builtin_SafeArray();
void Builtin_SafeArrayDestroy();
void Builtin_T();
void Builtin_VariantType();

}  // namespace qob
