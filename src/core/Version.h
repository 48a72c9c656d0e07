#pragma once
// The program's name and version, as the banner shows it and as written files
// carry it. The version comes from the build (the project's version).

#ifndef CLIPSMITH_VERSION
#error "CLIPSMITH_VERSION is set by the build"
#endif

constexpr char kProgramName[] = "Clipsmith " CLIPSMITH_VERSION;
