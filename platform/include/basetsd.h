// Host version of <basetsd.h>: the fixed-width scalar types of Windows x64 (LLP64).
// Kernel and user-mode host headers both start here, so the two sides agree on every size.
#pragma once

#include <cstddef>
#include <cstdint>

#define NTAPI
#define WINAPI
#define CALLBACK
#define APIENTRY
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define __stdcall
#define __cdecl
#define FASTCALL
#define DECLSPEC_ALIGN(x) alignas(x)
#define DECLSPEC_NOINLINE __attribute__((noinline))
#define FORCEINLINE inline __attribute__((always_inline))
#define UNALIGNED
#define IN
#define OUT
#define OPTIONAL
#define CONST const
#define VOID void

#define _In_
#define _In_opt_
#define _Out_
#define _Out_opt_
#define _Inout_
#define _Inout_opt_
#define _In_reads_bytes_(x)
#define _Out_writes_bytes_(x)
#define _Out_writes_bytes_opt_(x)
#define _IRQL_requires_max_(x)
#define _IRQL_requires_(x)
#define _Use_decl_annotations_
#define _Function_class_(x)
#define _Must_inspect_result_
#define _When_(c, a)
#define UNREFERENCED_PARAMETER(p) ((void)(p))

typedef void *PVOID, **PPVOID;
typedef const void *PCVOID;
typedef char CHAR, *PCHAR, *PSTR, *LPSTR;
typedef const char *PCSTR, *LPCSTR;
typedef signed char SCHAR;
typedef unsigned char UCHAR, *PUCHAR, BYTE, *PBYTE, *LPBYTE, BOOLEAN, *PBOOLEAN;
typedef short SHORT, *PSHORT;
typedef unsigned short USHORT, *PUSHORT, WORD, *PWORD;
typedef int INT, *PINT, LONG, *PLONG, BOOL, *PBOOL;
typedef unsigned int UINT, *PUINT, ULONG, *PULONG, DWORD, *PDWORD, *LPDWORD;
typedef int32_t INT32, LONG32;
typedef uint32_t UINT32, ULONG32, DWORD32;
typedef int64_t INT64, LONG64, LONGLONG, *PLONGLONG, *PLONG64;
typedef uint64_t UINT64, ULONG64, DWORD64, ULONGLONG, *PULONGLONG, *PULONG64, DWORDLONG;
typedef int16_t INT16;
typedef uint16_t UINT16;
typedef int8_t INT8;
typedef uint8_t UINT8;
typedef int64_t INT_PTR, LONG_PTR, SSIZE_T, *PLONG_PTR;
typedef uint64_t UINT_PTR, ULONG_PTR, SIZE_T, DWORD_PTR, *PULONG_PTR, *PSIZE_T;
typedef float FLOAT;
typedef double DOUBLE;

// WCHAR is 16 bits on Windows; the host build compiles with -fshort-wchar so that
// wchar_t and L"" literals have the same width as on the target.
typedef wchar_t WCHAR, *PWCHAR, *PWSTR, *LPWSTR;
typedef const wchar_t *PCWSTR, *LPCWSTR;

static_assert(sizeof(WCHAR) == 2, "host build needs -fshort-wchar");
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "LONG is 32 bits on Windows");
static_assert(sizeof(ULONG_PTR) == 8 && sizeof(PVOID) == 8, "x64 pointers");
static_assert(sizeof(BOOLEAN) == 1, "BOOLEAN is one byte");

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#ifndef NULL
#define NULL nullptr
#endif

#define MAXULONG 0xffffffffu
#define MAXLONG 0x7fffffff
#define MAXUSHORT 0xffff
#define MAXLONGLONG 0x7fffffffffffffffll
#define MAXULONG_PTR (~(ULONG_PTR)0)
