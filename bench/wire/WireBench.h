#pragma once

// Shared by the halves of bench/wire: the server connection needs an application
// object, and whichever benchmark runs first makes the one the process keeps.

#include <QCoreApplication>

inline void EnsureApplication()
{
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "bench_wire";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}
