// The options that the typical run and the host's commands share, one
// table for each group, so that `handheld --receiver-baud N` and the
// command `receiver DEVICE --receiver-baud N` read them alike: the
// receiver's rate (--receiver-baud, --keep-rate), the simulator
// (--scenario, --replay), the sleeve (--sleeve) and the viewer
// (--headless, --screenshot).
#pragma once

#include <windows.h>

#include <string>

#include "CommandLine.h"

struct HostOptions {
  static constexpr DWORD kGpsSleeve = 0x01000001;
  static constexpr DWORD kSecondSleeve = 0x01000010;

  int baud = 0;  // 0: hunt
  bool keepRate = false;
  std::string scenario, replay;
  std::string sleeve = "gps";
  DWORD sleeveId = kGpsSleeve;
  bool headless = false;
  std::string screenshot;

  CommandLine::Options RateOptions();
  CommandLine::Options SimulatorOptions();
  CommandLine::Options SleeveOptions();
  CommandLine::Options ViewerOptions();

  // Sleeve identities by name ("gps", "second") or number (0x01000001).
  static bool ParseSleeve(const std::string& text, DWORD* sleeveId);
  // The simulator's arguments and what they are ("scenario normal").
  CommandLine::Words SimulatorArguments() const;
  std::string SimulatorDescription() const;
};
