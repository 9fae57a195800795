// The scenario engine: the simulated shell, fixture savers and the real Orvane.exe in a fresh folder, driven
// from outside as a user and the shell would. Scenarios, the soak rows and the benchmark rows share it.
#pragma once

struct Row {
  const char* name;
  const wchar_t* shell;     // FakeShell options; null: no shell at all
  const wchar_t* savers;    // "fxplain fxalt=A fxnn=N": FixtureSaver.exe, FixtureSaverAlt.exe, FixtureSaverNoName.exe
  const wchar_t* settings;  // the stored saver name; null: no settings file
  const char* steps;        // "verb args; verb args; ...", the verbs of Step() in Engine.cpp
};

// Runs the row, every repeat count multiplied by scale; prints the first broken expectation. 0 when all held.
int RunRow(const Row& row, int scale);
