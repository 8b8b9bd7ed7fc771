// Run-time loading of the outside libraries.
#pragma once

// Loads libNAME.so: first from the directory that holds the library itself
// (or the directory set by plat_set_library_dir), then by plain name.
void* plat_load_library(const char* soName);
// The library if it is already loaded in the process (RTLD_NOLOAD), or null.
void* plat_module_loaded(const char* soName);
void* plat_symbol(void* module, const char* name);
void plat_free_library(void* module);
// Test seam: look only in this directory (null restores the default).
void plat_set_library_dir(const char* dir);
// The directory of libqvtav400.so (or of the program it is linked into).
const char* plat_own_dir();
