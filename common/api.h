// PW_API marks what a shared library made from the layers exports. Every
// layer is compiled with hidden visibility, so nothing else leaves it.
// Windows: dllexport while building the library (PW_LIB_EXPORT, private to
// its target), dllimport for a program that uses it (PW_SHARED), nothing in
// the static layers. Elsewhere: default visibility.
#pragma once

#if defined(_WIN32)
#if defined(PW_LIB_EXPORT)
#define PW_API __declspec(dllexport)
#elif defined(PW_SHARED)
#define PW_API __declspec(dllimport)
#else
#define PW_API
#endif
#else
#define PW_API __attribute__((visibility("default")))
#endif
