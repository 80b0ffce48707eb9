#pragma once

// Free functions over NUL-terminated byte strings. Unless said otherwise a null or empty input is
// returned unchanged (or yields false / null) and the function works in place, returning its first
// argument. White space and case follow the C character classes of the default locale.

#include <cstdarg>
#include <cstdint>

char* Str_chomp(char* s);
char* Str_trim(char* s);
char* Str_ltrim(char* s);
char* Str_rtrim(char* s);
// Every run of two or more white-space characters becomes one blank; ends are not trimmed.
char* Str_wtrim(char* s);
// Removes the leading, then the trailing run of quotes (' and ") and white space.
char* Str_unquote(char* s);
char* Str_toLower(char* s);
char* Str_toUpper(char* s);

// Decimal parsers. Trailing text after the number is accepted. A null or empty text, a text without
// digits or a number out of range ends the process with a NumberFormatException.
int Str_parseInt(const char* s);
long long Str_parseLLong(const char* s);
double Str_parseDouble(const char* s);

char* Str_replaceChar(char* s, char old, char with);
bool Str_startsWith(const char* a, const char* b);  // case-insensitive
bool Str_endsWith(const char* a, const char* b);    // case-insensitive
// First case-insensitive occurrence of b in a, or null.
char* Str_sub(const char* a, const char* b);
bool Str_has(const char* s, const char* chars);
// Removes each backslash that is followed by a byte of chars.
char* Str_unescape(const char* chars, char* s);
bool Str_isEqual(const char* a, const char* b);  // case-insensitive
bool Str_isByteEqual(const char* a, const char* b);
// Copies at most n bytes of src into dest (which holds n + 1 bytes) and terminates it.
char* Str_copy(char* dest, const char* src, int n);
char* Str_dup(const char* s);
char* Str_ndup(const char* s, int n);
// Joins the texts up to a null pointer into dest, at most n bytes, then terminates (dest: n + 1).
char* _Str_join(char* dest, int n, ...);
#define Str_join(dest, n, ...) _Str_join((dest), (n), __VA_ARGS__, nullptr)
// New text formatted by vsnprintf, exactly as large as needed; null for a null format.
char* Str_cat(const char* format, ...) __attribute__((format(printf, 1, 2)));
char* Str_vcat(const char* format, va_list ap) __attribute__((format(printf, 1, 0)));
// When s is longer than n + 4 characters, keeps the first n and appends "...".
char* Str_trunc(char* s, int n);
// Cuts s at the first case-insensitive occurrence of t.
char* Str_curtail(char* s, const char* t);
// True when s is longer than limit characters.
bool Str_lim(const char* s, int limit);
// POSIX extended regular expression match (no sub-matches); a bad pattern ends the process.
bool Str_match(const char* pattern, const char* s);
uint64_t Str_hash(const char* s);
int Str_cmp(const char* a, const char* b);
// Pointer just after the last "/", or s itself.
char* Str_basename(char* s);
// Cuts s just after the last "/"; without a slash s becomes ".".
char* Str_dirname(char* s);
