#pragma once

// Checked allocation. Every call carries the caller's function, source unit and line; a failed
// allocation ends the process with "Memory Exception: <system error>\n raised in ...". Sizes below
// 1 are contract violations.

void* Mem_alloc(long nbytes, const char* func, const char* file, int line);
void* Mem_calloc(long count, long nbytes, const char* func, const char* file, int line);
void* Mem_resize(void* p, long nbytes, const char* func, const char* file, int line);
void Mem_free(void* p, const char* func, const char* file, int line);

#define ALLOC(n) Mem_alloc((n), __func__, __FILE__, __LINE__)
#define CALLOC(c, n) Mem_calloc((c), (n), __func__, __FILE__, __LINE__)
#define RESIZE(p, n) ((p) = (decltype(p))Mem_resize((p), (n), __func__, __FILE__, __LINE__))
// Frees p and sets it to null.
#define FREE(p) ((void)(Mem_free((p), __func__, __FILE__, __LINE__), (p) = nullptr))
