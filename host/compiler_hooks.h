// host/compiler_hooks.h
// What the compiler's stages ask of the runtime: library folders, the
// run-time log, progress reports and the ERROR% text.
#pragma once

namespace qob {

// Points the preprocessor, the parser and the compile-message sink at the
// runtime's services. Installing again changes nothing.
void InstallCompilerHooks();

}  // namespace qob
