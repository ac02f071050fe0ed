// Where the test program finds the build tree (build/bin, build/lib) and the source tree.
#pragma once

#include <string>

#ifndef QV_BUILD_TREE
#error "QV_BUILD_TREE is defined by qv_test()"
#endif

inline std::string BuildTree() { return QV_BUILD_TREE; }
inline std::string SourceTree() { return QV_SOURCE_TREE; }
