#pragma once
// ORDALIS_API marks the classes and functions the shared library exports.
// The library is built with hidden visibility, so anything a host may call
// must carry it; everything else stays inside the library.
#if defined(__GNUC__) || defined(__clang__)
#define ORDALIS_API __attribute__((visibility("default")))
#define ORDALIS_LOCAL __attribute__((visibility("hidden")))
#else
#define ORDALIS_API
#define ORDALIS_LOCAL
#endif
